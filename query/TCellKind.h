#pragma once
// How the cells of one combo grid column look and behave.
#include <QList>
#include <QString>
#include <QStringList>

class QWidget;

namespace vemo::query {

// Alignment bits of a cell kind.
enum CellAlign : int {
    AlignLeftBit = 1, AlignHCenterBit = 2, AlignRightBit = 4,
    AlignTopBit = 8, AlignVCenterBit = 16, AlignBottomBit = 32,
};

enum CellKindCode : int { KindText = 0, KindDropDown = 1, KindButton = 2, KindCheck = 3 };

// An item with its integer mark (the marks matter for check cells only).
struct CellItem {
    QString text;
    int mark = 0;
    bool operator==(const CellItem&) const = default;
};

// Button and check cells show the cell's own text instead of item 0 when item 0 is this.
inline const QString kUseCellData = QStringLiteral("%%USECELLDATA%%");

class TCellKind {
public:
    explicit TCellKind(QWidget* owner = nullptr) : owner_(owner) {}

    int Kind = KindText;
    // Kind 0: item 0 the edit mask, item 1 the number display format; kind 1: the choices;
    // kind 2: item 0 the caption; kind 3: the values and their marks.
    QList<CellItem> Items;
    bool CanEdit = true;
    int DropDownWidth = 0;
    int TextMargin = 2;
    int EditLimit = 0;

    int CellAlignment() const { return cellAlignment_; }
    int TitleAlignment() const { return titleAlignment_; }
    // Both repaint the owning grid when the value changes.
    void setCellAlignment(int bits);
    void setTitleAlignment(int bits);

    void setItems(const QList<CellItem>& items) { Items = items; }
    void setItems(const QStringList& texts);
    QString item(int i) const { return i >= 0 && i < Items.size() ? Items[i].text : QString(); }
    int indexOf(const QString& text) const;

    // Copies every setting but the owner.
    void assign(const TCellKind& other);

    QWidget* owner() const { return owner_; }
    void setOwner(QWidget* owner) { owner_ = owner; }

private:
    void repaintOwner();
    QWidget* owner_;
    int cellAlignment_ = AlignLeftBit | AlignVCenterBit;
    int titleAlignment_ = AlignLeftBit | AlignVCenterBit;
};

// Text of a check cell after one click: an item with a mark other than 1 becomes the first
// item marked 1 (unchanged when there is none); an item marked 1, or a text that is no item,
// becomes item 0.
QString toggledCheckText(const TCellKind& kind, const QString& text);

} // namespace vemo::query
