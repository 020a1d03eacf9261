#pragma once
// The filter dialog: edits a filter expression and answers with the text, or "EXIT" when
// the user cancels or closes it any other way.
#include <QDialog>

class QPlainTextEdit;
class QPushButton;
class QMenu;

namespace vemo::tablewin {

class TTableFilter : public QDialog {
    Q_OBJECT
public:
    explicit TTableFilter(QWidget* parent = nullptr);

    static inline const QString kCancelMark = QStringLiteral("EXIT");

    void setFilterText(const QString& text);
    // The editor's text after OK, "EXIT" otherwise.
    QString resultText() const { return result_; }

    // Shows the dialog modally over the current filter text and returns its answer.
    static QString run(QWidget* parent, const QString& current);

    QPlainTextEdit* editor() const { return Memo1; }
    QPushButton* okButton() const { return Button1; }
    QPushButton* cancelButton() const { return Button2; }

protected:
    void showEvent(QShowEvent* e) override;
    void done(int r) override;

private:
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QMenu* PM1 = nullptr;
    QString result_ = kCancelMark;
};

} // namespace vemo::tablewin
