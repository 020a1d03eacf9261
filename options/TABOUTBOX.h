#pragma once
// The version box of the Help menu.
#include <QDialog>

class QFrame;
class QLabel;
class QPushButton;

namespace vemo::options {

class TABOUTBOX : public QDialog {
    Q_OBJECT
public:
    explicit TABOUTBOX(QWidget* parent = nullptr);

    QFrame* Panel1;
    QLabel* ProgramIcon;
    QFrame* Bevel1;
    QLabel* ProductName;
    QLabel* Version;
    QLabel* Notice;
    QPushButton* OKBtn;
};

} // namespace vemo::options
