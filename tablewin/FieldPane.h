#pragma once
// The field pane of the data windows: the current field's name and one data-bound editor
// for it, chosen by the field's type: the picture editor for a graphic field, the
// formatted memo editor for a formatted memo, the plain memo editor for anything else.
// The editors show the field of the dataset's current record; a picture pasted or cut,
// and memo text edited, go back into that record (starting an edit, as the grid does).
#include <QSplitter>
#include <functional>

class QLabel;
class QPlainTextEdit;
class QTextEdit;

namespace vemo::engine {
class Table;
}

namespace vemo::tablewin {

class ImageEditor;

class FieldPane : public QSplitter {
    Q_OBJECT
public:
    explicit FieldPane(QWidget* parent = nullptr);

    QLabel* nameLabel() const { return name_; }
    ImageEditor* picture() const { return picture_; }
    QTextEdit* formattedMemo() const { return formatted_; }
    QPlainTextEdit* plainMemo() const { return plain_; }

    // The dataset whose current record the editors show (nullptr: none).
    void setDataSet(engine::Table* table) { table_ = table; }
    // Binds the pane to a field: its name, the editor for its type, its value.
    void showField(int field);
    int field() const { return field_; }
    // The bound field's value of the current record into the visible editor.
    void load();
    // Memo text the user changed into the current record; true when something was written.
    bool store();
    // Nothing bound: name and every editor emptied, the plain memo shown.
    void clear();
    // The visible editor, and the pane's editor that has the focus (nullptr if none).
    QWidget* visibleEditor() const;
    QWidget* focusedEditor() const;

    // Runs a write into the record; false when it failed (the owner shows the error).
    std::function<bool(const std::function<void()>&)> guard;
    // A value was written into the current record.
    std::function<void()> changed;

private:
    bool bound() const;
    bool write(const std::function<void()>& action);

    engine::Table* table_ = nullptr;
    int field_ = -1;
    QLabel* name_ = nullptr;
    ImageEditor* picture_ = nullptr;
    QTextEdit* formatted_ = nullptr;
    QPlainTextEdit* plain_ = nullptr;
};

} // namespace vemo::tablewin
