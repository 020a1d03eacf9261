#pragma once
// The alias dialog: name, engine driver and the driver's parameters in a two-column grid.
#include <QDialog>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace vemo::engine {
class Session;
}
namespace vemo::query {
class TComboGrid;
}

namespace vemo::dbwindow {

class TCreate_Alias : public QDialog {
    Q_OBJECT
public:
    TCreate_Alias(engine::Session& session, QWidget* parent = nullptr);

    // 0 add, 1 edit (the form's tag).
    int mode() const { return mode_; }
    void setMode(int tag) { mode_ = tag; }

    // "NAME=value" for every grid row with both a name and a value (an open edit included).
    std::vector<std::string> parameterLines() const;
    // Rows "NAME=value" into the grid below its heading (two rows at least).
    void fillParameters(const std::vector<std::string>& lines);

    void CB01Change();

    QLabel* Label1;
    QLineEdit* ED01;
    QLabel* Label2;
    QComboBox* CB01;
    query::TComboGrid* CBG1;
    QCheckBox* CHB1;
    QPushButton* Button2;
    QPushButton* Button1;

protected:
    void showEvent(QShowEvent* e) override;

private:
    void FormShow();
    engine::Session& session_;
    int mode_ = 0;
    bool shown_ = false;
};

} // namespace vemo::dbwindow
