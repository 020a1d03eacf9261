#include "tablewin/ImageEditor.h"

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QImage>
#include <QPixmap>

namespace vemo::tablewin {

ImageEditor::ImageEditor(QWidget* parent) : QLabel(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

void ImageEditor::setBytes(const engine::Bytes& bytes)
{
    image_ = QImage::fromData(bytes.data(), static_cast<int>(bytes.size()));
    setPixmap(image_.isNull() ? QPixmap() : QPixmap::fromImage(image_));
}

void ImageEditor::clearPicture()
{
    image_ = QImage();
    setPixmap(QPixmap());
}

void ImageEditor::copyPicture() const
{
    if (!image_.isNull())
        QApplication::clipboard()->setImage(image_);
}

void ImageEditor::cutPicture()
{
    copyPicture();
    clearPicture();
    if (changed)
        changed({});
}

void ImageEditor::pastePicture()
{
    const QImage img = QApplication::clipboard()->image();
    if (img.isNull())
        return;
    image_ = img;
    setPixmap(QPixmap::fromImage(image_));
    QByteArray data;
    QBuffer buf(&data);
    buf.open(QIODevice::WriteOnly);
    image_.save(&buf, "BMP");
    if (changed)
        changed(engine::Bytes(data.begin(), data.end()));
}

void ImageEditor::focusInEvent(QFocusEvent* e)
{
    QLabel::focusInEvent(e);
}

} // namespace vemo::tablewin
