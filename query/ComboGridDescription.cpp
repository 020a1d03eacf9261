#include "query/ComboGridDescription.h"

#include <QDataStream>
#include <QIODevice>

namespace vemo::query {

namespace {

constexpr quint32 kMagic = 0x56434731; // "VCG1"
// Upper bounds that keep a damaged description from asking for absurd allocations.
constexpr qint32 kMaxEntries = 1 << 20;
constexpr qint32 kMaxCell = 1 << 24;

qint32 readInt(QDataStream& in, qint32 lo, qint32 hi, const char* what)
{
    qint32 v = 0;
    in >> v;
    if (in.status() != QDataStream::Ok)
        throw DescriptionError("combo grid description is truncated");
    if (v < lo || v > hi)
        throw DescriptionError(std::string("combo grid description has an invalid ") + what);
    return v;
}

QString readText(QDataStream& in)
{
    QString s;
    in >> s;
    if (in.status() != QDataStream::Ok)
        throw DescriptionError("combo grid description is truncated");
    return s;
}

} // namespace

QByteArray writeDescription(const ComboGridDescription& d)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_6_0);
    out << kMagic << qint32(d.CellData.size());
    for (const CellDataEntry& e : d.CellData)
        out << qint32(e.col) << qint32(e.row) << e.text;
    out << qint32(d.CellKind.size());
    for (const CellKindEntry& k : d.CellKind) {
        out << qint32(k.Kind) << qint32(k.TitleAlignment) << qint32(k.CellAlignment) << qint32(k.Items.size());
        for (const CellItem& it : k.Items) {
            out << it.text;
            if (k.Kind == KindCheck)
                out << qint32(it.mark);
        }
        out << qint32(k.DropDownWidth) << qint32(k.TextMargin) << qint32(k.EditLimit) << k.CanEdit;
    }
    return bytes;
}

ComboGridDescription readDescription(const QByteArray& bytes)
{
    QDataStream in(bytes);
    in.setVersion(QDataStream::Qt_6_0);
    quint32 magic = 0;
    in >> magic;
    if (in.status() != QDataStream::Ok || magic != kMagic)
        throw DescriptionError("not a combo grid description");
    ComboGridDescription d;
    const qint32 cells = readInt(in, 0, kMaxEntries, "cell count");
    for (qint32 i = 0; i < cells; ++i) {
        CellDataEntry e;
        e.col = readInt(in, 0, kMaxCell, "column");
        e.row = readInt(in, 0, kMaxCell, "row");
        e.text = readText(in);
        d.CellData.append(e);
    }
    const qint32 kinds = readInt(in, 0, kMaxEntries, "column count");
    for (qint32 i = 0; i < kinds; ++i) {
        CellKindEntry k;
        k.Kind = readInt(in, 0, 3, "cell kind");
        k.TitleAlignment = readInt(in, 0, 63, "title alignment");
        k.CellAlignment = readInt(in, 0, 63, "cell alignment");
        const qint32 items = readInt(in, 0, kMaxEntries, "item count");
        for (qint32 j = 0; j < items; ++j) {
            CellItem it;
            it.text = readText(in);
            if (k.Kind == KindCheck)
                it.mark = readInt(in, INT32_MIN, INT32_MAX, "item mark");
            k.Items.append(it);
        }
        k.DropDownWidth = readInt(in, 0, kMaxCell, "drop-down width");
        k.TextMargin = readInt(in, 0, kMaxCell, "text margin");
        k.EditLimit = readInt(in, 0, kMaxCell, "edit limit");
        in >> k.CanEdit;
        if (in.status() != QDataStream::Ok)
            throw DescriptionError("combo grid description is truncated");
        d.CellKind.append(k);
    }
    return d;
}

} // namespace vemo::query
