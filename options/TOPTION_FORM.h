#pragma once
// The options dialog: every preference of the settings store on five pages; OK writes them
// all to memory and the store, the close box saves nothing (the IME data clear is done at
// once when confirmed).
#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;

namespace vemo::shell {
class TSHBrowseForFolderEx;
enum class TOKButtonState;
}

namespace vemo::options {

class TOPTION_FORM : public QDialog {
    Q_OBJECT
public:
    explicit TOPTION_FORM(QWidget* parent = nullptr);

    QTabWidget* PageControl1;
    QLineEdit *Edit2, *Edit3, *Edit4, *Edit5, *Edit6; // OPEN_DIR COPY_DIR SQL_DIR CSV_DIR WP_DIR
    QPushButton *Button3, *Button4, *Button5, *Button6, *Button7;
    QRadioButton *RB1, *RB2, *RB3;
    QLineEdit* Edit1;
    QPushButton* Button1;
    QCheckBox* CHB1;
    QComboBox* CB01;
    QComboBox* CB02;
    QRadioButton *RB4, *RB5, *RB6, *RB7;
    QCheckBox *CHB2, *CHB3;
    QCheckBox *CHB4, *CHB5, *CHB7, *CHB8, *CHB11, *CHB9, *CHB10, *CHB6;
    QPushButton* BitBtn1;
    QPushButton* Button2;
    shell::TSHBrowseForFolderEx* OD2;

    // The last folder the picker reported (kept for the whole run).
    static QString& lastPickedPath();

public slots:
    void FormShow();
    void Button2Click();
    void Button_Click();
    void Button1Click();
    void BitBtn1Click();

protected:
    void showEvent(QShowEvent* e) override;

private:
    void OD2SelectionChanged(const QString& path);
    QLineEdit* folderEdit(int tag) const;
};

} // namespace vemo::options
