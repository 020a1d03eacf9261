#include "query/TCellKind.h"

#include <QAbstractScrollArea>
#include <QWidget>

namespace vemo::query {

void TCellKind::setCellAlignment(int bits)
{
    if (bits == cellAlignment_)
        return;
    cellAlignment_ = bits;
    repaintOwner();
}

void TCellKind::setTitleAlignment(int bits)
{
    if (bits == titleAlignment_)
        return;
    titleAlignment_ = bits;
    repaintOwner();
}

void TCellKind::setItems(const QStringList& texts)
{
    Items.clear();
    for (const QString& t : texts)
        Items.append({t, 0});
}

int TCellKind::indexOf(const QString& text) const
{
    for (int i = 0; i < Items.size(); ++i)
        if (Items[i].text == text)
            return i;
    return -1;
}

void TCellKind::assign(const TCellKind& other)
{
    Kind = other.Kind;
    Items = other.Items;
    DropDownWidth = other.DropDownWidth;
    TextMargin = other.TextMargin;
    EditLimit = other.EditLimit;
    CanEdit = other.CanEdit;
    setTitleAlignment(other.titleAlignment_);
    setCellAlignment(other.cellAlignment_);
}

void TCellKind::repaintOwner()
{
    if (!owner_)
        return;
    if (auto* area = qobject_cast<QAbstractScrollArea*>(owner_))
        area->viewport()->update();
    else
        owner_->update();
}

QString toggledCheckText(const TCellKind& kind, const QString& text)
{
    const int at = kind.indexOf(text);
    if (at >= 0 && kind.Items[at].mark != 1) {
        for (const CellItem& it : kind.Items)
            if (it.mark == 1)
                return it.text;
        return text;
    }
    return kind.item(0);
}

} // namespace vemo::query
