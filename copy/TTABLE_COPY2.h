#pragma once
// The field mapping dialog ("詳細設定"): source-to-destination field pairs and the problem
// table switches of one table copy.
#include <QDialog>
#include <QStringList>

class QCheckBox;
class QPushButton;

namespace vemo::query {
class TComboGrid;
}

namespace vemo::copy {

class TTABLE_COPY2 : public QDialog {
    Q_OBJECT
public:
    explicit TTABLE_COPY2(QWidget* parent = nullptr);

    QCheckBox* CHB1 = nullptr;
    QCheckBox* CHB2 = nullptr;
    QCheckBox* CHB3 = nullptr;
    query::TComboGrid* CBG1 = nullptr;
    QPushButton* Button1 = nullptr;

    // One row per source field (two rows when there is none); destination choices.
    void setFieldLists(const QStringList& sourceFields, const QStringList& destinationFields);
    // Mapping lines into the rows, line i into row i + 1; lines beyond the rows are dropped.
    void setMappingLines(const QStringList& lines);
    // The lines of the rows whose two cells are filled.
    QStringList mappingLines() const;

    void CBG1GridBtnClick(QObject* sender, int col, int row);

protected:
    void showEvent(QShowEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
};

} // namespace vemo::copy
