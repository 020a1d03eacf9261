#pragma once
// The stored description of a combo grid: its non-empty cell texts (CellData) and one cell
// kind per column (CellKind). Windows declare their grids' columns with these entries, and
// the description can be written to and read back from bytes.
#include "query/TCellKind.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <stdexcept>

namespace vemo::query {

struct CellDataEntry {
    int col = 0;
    int row = 0;
    QString text;
    bool operator==(const CellDataEntry&) const = default;
};

struct CellKindEntry {
    int Kind = KindText;
    int TitleAlignment = AlignLeftBit | AlignVCenterBit;
    int CellAlignment = AlignLeftBit | AlignVCenterBit;
    QList<CellItem> Items;
    int DropDownWidth = 0;
    int TextMargin = 2;
    int EditLimit = 0;
    bool CanEdit = true;
    bool operator==(const CellKindEntry&) const = default;
};

struct ComboGridDescription {
    QList<CellDataEntry> CellData;
    QList<CellKindEntry> CellKind;
    bool operator==(const ComboGridDescription&) const = default;
};

// Raised when stored bytes are not a description (truncated, out-of-range numbers).
class DescriptionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Field order: CellData entries (column, row, text); then per column Kind, TitleAlignment,
// CellAlignment, the item count, the items (each text, and for kind 3 its mark),
// DropDownWidth, TextMargin, EditLimit, CanEdit.
QByteArray writeDescription(const ComboGridDescription& description);
ComboGridDescription readDescription(const QByteArray& bytes);

} // namespace vemo::query
