#pragma once
// The index selection dialog of the table window: the table's indexes in a drop-down list,
// the chosen index's fields below, OK and cancel. The caller sets the input names, runs the
// dialog and reads the chosen index text and the first-index flag.
#include <QDialog>
#include <QString>

class QComboBox;
class QListWidget;
class QMenu;
class QMenuBar;
class QAction;
class QPushButton;

namespace vemo::engine {
class Session;
}

namespace vemo::index {

class TTableIndex2 : public QDialog {
    Q_OBJECT
public:
    // Process-wide input (the table window's database and table) and output.
    static QString inputDatabase;
    static QString inputTable;
    static QString chosenIndex;   // CB1's text on closing, "[キー無し]" when CB1 is empty
    static bool firstIndexChosen; // the first entry of CB1 was selected

    static inline const QString kPrimaryLabel = QStringLiteral("[主キー]");
    static inline const QString kNoKeyLabel = QStringLiteral("[キー無し]");

    explicit TTableIndex2(QWidget* parent = nullptr);
    TTableIndex2(engine::Session& session, QWidget* parent);

    QComboBox* indexList() const { return CB1; }
    QListWidget* fieldList() const { return LB1; }
    QPushButton* okButton() const { return Button1; }
    QPushButton* cancelButton() const { return Button2; }
    QAction* copyAction() const { return Copy1; }

    void key_set();
    void C1Click();

protected:
    void showEvent(QShowEvent* e) override;
    void done(int r) override;

private:
    void FormShow();
    void updateCopyEnabled();

    engine::Session& session_;
    QComboBox* CB1 = nullptr;
    QListWidget* LB1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QMenuBar* menuBar_ = nullptr;
    QAction* Copy1 = nullptr;
    QAction* C1 = nullptr;
    QMenu* PM2 = nullptr;
    bool shown_ = false;
};

} // namespace vemo::index
