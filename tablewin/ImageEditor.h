#pragma once
// The picture editor of a graphic field: shows the picture and cuts, copies and pastes it
// through the clipboard.
#include "engine/values/Value.h"

#include <QLabel>
#include <functional>

namespace vemo::tablewin {

class ImageEditor : public QLabel {
    Q_OBJECT
public:
    explicit ImageEditor(QWidget* parent = nullptr);

    void setBytes(const engine::Bytes& bytes);
    void clearPicture();
    void copyPicture() const;
    void cutPicture();
    void pastePicture();

    // A picture pasted or cut: the new bytes (empty for none) go to the field.
    std::function<void(const engine::Bytes&)> changed;

protected:
    void focusInEvent(QFocusEvent* e) override;

private:
    QImage image_;
};

} // namespace vemo::tablewin
