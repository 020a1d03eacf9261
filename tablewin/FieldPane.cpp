#include "tablewin/FieldPane.h"

#include "tablewin/ImageEditor.h"

#include "engine/dataset/Table.h"

#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QVBoxLayout>

namespace vemo::tablewin {

FieldPane::FieldPane(QWidget* parent) : QSplitter(Qt::Horizontal, parent)
{
    name_ = new QLabel(this);
    name_->setObjectName(QStringLiteral("Field_Name"));
    auto* editors = new QWidget(this);
    auto* layout = new QVBoxLayout(editors);
    layout->setContentsMargins(0, 0, 0, 0);
    picture_ = new ImageEditor(editors);
    picture_->setObjectName(QStringLiteral("DBI1"));
    formatted_ = new QTextEdit(editors);
    formatted_->setObjectName(QStringLiteral("DBM1"));
    formatted_->setAcceptRichText(false);
    formatted_->setTabChangesFocus(false);
    formatted_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    formatted_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    plain_ = new QPlainTextEdit(editors);
    plain_->setObjectName(QStringLiteral("DBM2"));
    plain_->setTabChangesFocus(true); // Enter arrives here as Tab: it moves on, as in the grid
    for (QWidget* w : {static_cast<QWidget*>(picture_), static_cast<QWidget*>(formatted_), static_cast<QWidget*>(plain_)})
        layout->addWidget(w);
    picture_->hide();
    formatted_->hide();
    // The pane starts one line high; a zero minimum would let the editors' size hints win.
    for (QWidget* w : {static_cast<QWidget*>(name_), editors, static_cast<QWidget*>(picture_),
                       static_cast<QWidget*>(formatted_), static_cast<QWidget*>(plain_)})
        w->setMinimumSize(1, 1);
    setSizes({100, 400});

    picture_->changed = [this](const engine::Bytes& bytes) {
        if (!bound() || !table_->canModify() || !write([&] {
                table_->setFieldValue(field_, bytes.empty() ? engine::Value{} : engine::Value{bytes});
            }))
            load(); // refused: the editor shows the record's picture again
    };
}

bool FieldPane::bound() const
{
    return table_ && table_->isOpen() && field_ >= 0 && field_ < table_->fieldCount() && table_->recNo() >= 0;
}

bool FieldPane::write(const std::function<void()>& action)
{
    bool ok = true;
    if (guard) {
        ok = guard(action);
    } else {
        action();
    }
    if (ok && changed)
        changed();
    return ok;
}

void FieldPane::showField(int field)
{
    if (!table_ || !table_->isOpen() || field < 0 || field >= table_->fieldCount()) {
        clear();
        return;
    }
    field_ = field;
    const auto& def = table_->fieldDefs()[static_cast<size_t>(field)];
    name_->setText(QString::fromStdString(def.name));
    picture_->setVisible(def.type == engine::FieldType::Graphic);
    formatted_->setVisible(def.type == engine::FieldType::FmtMemo);
    plain_->setVisible(def.type != engine::FieldType::Graphic && def.type != engine::FieldType::FmtMemo);
    load();
}

void FieldPane::load()
{
    if (!bound()) {
        formatted_->clear();
        plain_->clear();
        picture_->clearPicture();
        return;
    }
    const auto& def = table_->fieldDefs()[static_cast<size_t>(field_)];
    if (def.type == engine::FieldType::Graphic) {
        const auto& v = table_->fieldValue(field_);
        if (const auto* b = std::get_if<engine::Bytes>(&v))
            picture_->setBytes(*b);
        else
            picture_->clearPicture();
        return;
    }
    const bool binary = engine::isBinaryType(def.type);
    const QString text = QString::fromStdString(table_->fieldText(field_));
    if (def.type == engine::FieldType::FmtMemo) {
        if (formatted_->toPlainText() != text)
            formatted_->setPlainText(text);
    } else if (plain_->toPlainText() != text) {
        plain_->setPlainText(text);
    }
    formatted_->setReadOnly(binary || !table_->canModify());
    plain_->setReadOnly(binary || !table_->canModify());
    formatted_->document()->setModified(false);
    plain_->document()->setModified(false);
}

bool FieldPane::store()
{
    if (!bound())
        return false;
    const auto& def = table_->fieldDefs()[static_cast<size_t>(field_)];
    if (engine::isBinaryType(def.type) || !table_->canModify())
        return false;
    QTextDocument* doc = def.type == engine::FieldType::FmtMemo ? formatted_->document() : plain_->document();
    if (!doc->isModified())
        return false;
    formatted_->document()->setModified(false);
    plain_->document()->setModified(false);
    const QString text = doc->toPlainText();
    if (QString::fromStdString(table_->fieldText(field_)) == text)
        return false;
    return write([&] { table_->setFieldText(field_, text.toStdString()); });
}

void FieldPane::clear()
{
    field_ = -1;
    name_->clear();
    picture_->clearPicture();
    formatted_->clear();
    plain_->clear();
    picture_->hide();
    formatted_->hide();
    plain_->show();
}

QWidget* FieldPane::visibleEditor() const
{
    for (QWidget* w : {static_cast<QWidget*>(picture_), static_cast<QWidget*>(formatted_), static_cast<QWidget*>(plain_)})
        if (!w->isHidden())
            return w;
    return nullptr;
}

QWidget* FieldPane::focusedEditor() const
{
    QWidget* f = QApplication::focusWidget();
    if (f == picture_ || f == formatted_ || f == plain_)
        return f;
    return nullptr;
}

} // namespace vemo::tablewin
