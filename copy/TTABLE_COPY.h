#pragma once
// The table copy dialog ("ﾃｰﾌﾞﾙｺﾋﾟｰ"): source and destination as alias and table, the mode,
// the abort switches, and the batch move that runs the transfer.
#include "copy/TTZBatchMove.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace vemo::engine {
class Session;
}

namespace vemo::copy {

class TTABLE_COPY : public QDialog {
    Q_OBJECT
public:
    explicit TTABLE_COPY(engine::Session& session, QWidget* parent = nullptr);

    QComboBox* CB1 = nullptr; // source alias
    QComboBox* CB3 = nullptr; // source table
    QComboBox* CB2 = nullptr; // destination alias
    QComboBox* CB4 = nullptr; // destination table
    QComboBox* CB5 = nullptr; // mode
    QCheckBox* CHB1 = nullptr;
    QCheckBox* CHB2 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    TTZBatchMove BM1;

    void Set_Alias();
    void Set_TableList(QComboBox* aliasBox, QComboBox* tableBox);
    void CB1Change();
    void CB2Change();
    void CB5Change();
    void Button1Click();
    void Button3Click();
    // The mapping dialog between its filling and its reading back; tests answer it here.
    std::function<void(class TTABLE_COPY2&)> onMappingDialog;

protected:
    void showEvent(QShowEvent* e) override;

private:
    engine::Session& session_;
};

// Shows the dialog modally over parent, on the process-wide session.
void showTableCopy(QWidget* parent);

} // namespace vemo::copy
