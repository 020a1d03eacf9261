#include "query/TComboGrid.h"

#include "query/CellFormat.h"
#include "query/ComboGridDelegate.h"
#include "query/TComboInplaceEdit.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <qdrawutil.h>

#include <cstdlib>

namespace vemo::query {

TComboGrid::TComboGrid(QWidget* parent) : QTableWidget(parent)
{
    horizontalHeader()->hide();
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    horizontalHeader()->setMinimumSectionSize(1);
    setDefaultRowHeight(24);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setEditTriggers(QAbstractItemView::AllEditTriggers);
    setItemDelegate(new ComboGridDelegate(this));
    setColumnCount(5);
    setRowCount(5);
}

TComboGrid::~TComboGrid()
{
    // The editor is destroyed with the grid's children, after this part of the grid is gone:
    // the focus it loses then must not reach back into the grid.
    if (editor_)
        editor_->detachGrid();
}

void TComboGrid::setColumnSizing(bool on)
{
    columnSizing_ = on;
    viewport()->setMouseTracking(on); // the sizing cursor shows over a heading's edge
    if (!on)
        viewport()->unsetCursor();
}

void TComboGrid::setRangeSelection(bool on)
{
    setSelectionMode(on ? QAbstractItemView::ContiguousSelection : QAbstractItemView::SingleSelection);
    if (!on)
        clearSelection(); // a range left from before would stay selected
}

int TComboGrid::sizingColumnAt(const QPoint& pos) const
{
    constexpr int kGrip = 3;
    if (!columnSizing_ || pos.y() < 0 || pos.y() >= fixedBandHeight())
        return -1;
    for (int c = 0; c < columnCount(); ++c) {
        if (isColumnHidden(c))
            continue;
        const QRect r = visualRect(model()->index(0, c));
        if (std::abs(pos.x() - (r.left() + columnWidth(c) - 1)) <= kGrip)
            return c;
    }
    return -1;
}

void TComboGrid::setFixedRows(int n)
{
    fixedRows_ = std::max(0, n);
    viewport()->update();
}

void TComboGrid::setFixedCols(int n)
{
    fixedCols_ = std::max(0, n);
    viewport()->update();
}

void TComboGrid::setDefaultRowHeight(int px)
{
    verticalHeader()->setDefaultSectionSize(px);
}

QString TComboGrid::Cells(int col, int row) const
{
    const QTableWidgetItem* it = item(row, col);
    return it ? it->text() : QString();
}

QString TComboGrid::displayText(int col, int row) const
{
    const QString text = Cells(col, row);
    const TCellKind& k = cellKind(col);
    if (k.Kind == KindText && k.Items.size() >= 2 && !k.item(1).isEmpty() && !text.isEmpty())
        if (const auto n = cellNumber(text))
            return formatNumber(k.item(1), *n);
    return text;
}

void TComboGrid::setCells(int col, int row, const QString& text)
{
    if (col < 0 || row < 0)
        return;
    if (col >= columnCount())
        setColumnCount(col + 1);
    if (row >= rowCount())
        setRowCount(row + 1);
    if (QTableWidgetItem* it = item(row, col))
        it->setText(text);
    else
        setItem(row, col, new QTableWidgetItem(text));
}

TCellKind& TComboGrid::cellKind(int col)
{
    return const_cast<TCellKind&>(std::as_const(*this).cellKind(col));
}

const TCellKind& TComboGrid::cellKind(int col) const
{
    col = std::max(0, col);
    if (static_cast<size_t>(col) >= kinds_.size())
        kinds_.resize(col + 1);
    if (!kinds_[col])
        kinds_[col] = std::make_unique<TCellKind>(const_cast<TComboGrid*>(this));
    return *kinds_[col];
}

QString TComboGrid::editMask(int col, int) const
{
    const TCellKind& k = cellKind(col);
    return k.Kind == KindText ? k.item(0) : QString();
}

int TComboGrid::editLimit(int col, int) const
{
    const TCellKind& k = cellKind(col);
    return k.Kind == KindText ? k.EditLimit : 0;
}

bool TComboGrid::canShowEditor(int col, int row) const
{
    if (!editing_ || isFixedCell(col, row) || col >= columnCount() || row >= rowCount())
        return false;
    const TCellKind& k = cellKind(col);
    return k.CanEdit && k.Kind != KindButton && k.Kind != KindCheck;
}

bool TComboGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event)
{
    if (!index.isValid() || !canShowEditor(index.column(), index.row())) {
        if (index.isValid())
            update(index);
        return false;
    }
    return QTableWidget::edit(index, trigger, event);
}

void TComboGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableWidget::currentChanged(current, previous);
    if (!current.isValid())
        return;
    // Fixed cells are titles: the current cell stays among the data cells.
    if (isFixedCell(current.column(), current.row())) {
        const int row = std::max(current.row(), fixedRows_);
        const int col = std::max(current.column(), fixedCols_);
        if (row < rowCount() && col < columnCount())
            setCurrentCell(row, col);
        return;
    }
    if (alwaysShowEditor_ && state() != QAbstractItemView::EditingState
        && canShowEditor(current.column(), current.row()))
        edit(current, QAbstractItemView::AllEditTriggers, nullptr);
}

void TComboGrid::editorCreated(TComboInplaceEdit* editor)
{
    editor_ = editor;
}

void TComboGrid::commitEdit()
{
    if (editor_)
        commitData(editor_);
}

void TComboGrid::closeEdit()
{
    if (!editor_)
        return;
    commitData(editor_);
    closeEditor(editor_, QAbstractItemDelegate::NoHint);
}

void TComboGrid::discardEdit()
{
    if (editor_)
        closeEditor(editor_, QAbstractItemDelegate::NoHint);
}

// --- fixed rows and columns: headings that stay put

int TComboGrid::fixedBandHeight() const
{
    int h = 0;
    for (int r = 0; r < fixedRows_ && r < rowCount(); ++r)
        if (!isRowHidden(r))
            h += rowHeight(r);
    return h;
}

int TComboGrid::fixedBandWidth() const
{
    int w = 0;
    for (int c = 0; c < fixedCols_ && c < columnCount(); ++c)
        if (!isColumnHidden(c))
            w += columnWidth(c);
    return w;
}

QRect TComboGrid::visualRect(const QModelIndex& index) const
{
    QRect r = QTableWidget::visualRect(index);
    if (!index.isValid() || r.isEmpty())
        return r;
    if (index.row() < fixedRows_) {
        int y = 0;
        for (int i = 0; i < index.row(); ++i)
            y += isRowHidden(i) ? 0 : rowHeight(i);
        r.moveTop(y);
    }
    if (index.column() < fixedCols_) {
        int x = 0;
        for (int i = 0; i < index.column(); ++i)
            x += isColumnHidden(i) ? 0 : columnWidth(i);
        r.moveLeft(x);
    }
    return r;
}

QModelIndex TComboGrid::indexAt(const QPoint& pos) const
{
    const bool inRows = pos.y() >= 0 && pos.y() < fixedBandHeight();
    const bool inCols = pos.x() >= 0 && pos.x() < fixedBandWidth();
    if (!inRows && !inCols)
        return QTableWidget::indexAt(pos);
    int row = rowAt(pos.y()), col = columnAt(pos.x());
    if (inRows)
        for (int r = 0, y = 0; r < fixedRows_ && r < rowCount(); ++r) {
            y += isRowHidden(r) ? 0 : rowHeight(r);
            if (pos.y() < y) {
                row = r;
                break;
            }
        }
    if (inCols)
        for (int c = 0, x = 0; c < fixedCols_ && c < columnCount(); ++c) {
            x += isColumnHidden(c) ? 0 : columnWidth(c);
            if (pos.x() < x) {
                col = c;
                break;
            }
        }
    return row >= 0 && col >= 0 ? model()->index(row, col) : QModelIndex();
}

QItemSelectionModel::SelectionFlags TComboGrid::selectionCommand(const QModelIndex& index, const QEvent* event) const
{
    // Headings are never selected as data.
    if (index.isValid() && isFixedCell(index.column(), index.row()))
        return QItemSelectionModel::NoUpdate;
    return QTableWidget::selectionCommand(index, event);
}

void TComboGrid::paintFixedCell(QPainter* p, int col, int row, const QRect& r)
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = r;
    option.state &= ~(QStyle::State_Selected | QStyle::State_HasFocus);
    p->fillRect(r, palette().button());
    itemDelegate()->paint(p, option, model()->index(row, col));
    // The grid lines around a heading, as the table draws them.
    p->save();
    p->setPen(palette().color(QPalette::Mid));
    p->drawLine(r.topRight(), r.bottomRight());
    p->drawLine(r.bottomLeft(), r.bottomRight());
    p->restore();
}

void TComboGrid::paintEvent(QPaintEvent* e)
{
    QTableWidget::paintEvent(e);
    const int bandH = fixedBandHeight(), bandW = fixedBandWidth();
    if ((bandH == 0 && bandW == 0) || rowCount() == 0 || columnCount() == 0)
        return;
    // The headings are painted last, over whatever rows and columns lie under them.
    QPainter p(viewport());
    const int firstCol = std::max(0, columnAt(bandW)), lastCol = columnAt(viewport()->width() - 1);
    const int firstRow = std::max(0, rowAt(bandH)), lastRow = rowAt(viewport()->height() - 1);
    const int endCol = lastCol < 0 ? columnCount() - 1 : lastCol;
    const int endRow = lastRow < 0 ? rowCount() - 1 : lastRow;
    for (int r = 0; r < fixedRows_ && r < rowCount(); ++r)
        for (int c = std::max(firstCol, fixedCols_); c <= endCol; ++c)
            if (!isRowHidden(r) && !isColumnHidden(c))
                paintFixedCell(&p, c, r, visualRect(model()->index(r, c)));
    for (int c = 0; c < fixedCols_ && c < columnCount(); ++c)
        for (int r = std::max(firstRow, fixedRows_); r <= endRow; ++r)
            if (!isRowHidden(r) && !isColumnHidden(c))
                paintFixedCell(&p, c, r, visualRect(model()->index(r, c)));
    for (int r = 0; r < fixedRows_ && r < rowCount(); ++r)
        for (int c = 0; c < fixedCols_ && c < columnCount(); ++c)
            if (!isRowHidden(r) && !isColumnHidden(c))
                paintFixedCell(&p, c, r, visualRect(model()->index(r, c)));
}

void TComboGrid::scrollContentsBy(int dx, int dy)
{
    QTableWidget::scrollContentsBy(dx, dy);
    // The cells under the headings are out of view: so is their editor.
    viewport()->update();
    placeEditor();
}

void TComboGrid::placeEditor()
{
    if (!editor_)
        return;
    // The table has put the editor over its cell. The part of it under the headings is cut
    // away; an editor wholly out of the data area is out of view. Hiding it would move the
    // focus and scroll back to the current cell.
    const QRect data = viewport()->rect().adjusted(fixedBandWidth(), fixedBandHeight(), 0, 0);
    const QRect g = editor_->geometry();
    const QRect visible = g & data;
    if (visible == g)
        editor_->clearMask();
    else if (visible.isEmpty())
        editor_->move(-g.width() - 10, -g.height() - 10);
    else
        editor_->setMask(QRegion(visible.translated(-g.topLeft())));
}

// --- mouse and keys on button and check cells

void TComboGrid::pressAt(const QModelIndex& index)
{
    if (!index.isValid() || isFixedCell(index.column(), index.row()))
        return;
    const TCellKind& k = cellKind(index.column());
    if (k.Kind == KindButton || (k.Kind == KindCheck && k.CanEdit && editing_)) {
        pressedWasCurrent_ = currentIndex() == index;
        pressed_ = QPoint(index.column(), index.row());
        update(index);
    }
}

void TComboGrid::releaseAt(const QPoint& pos)
{
    if (pressed_.x() < 0)
        return;
    const QPoint cell = pressed_;
    pressed_ = QPoint(-1, -1);
    const QModelIndex index = model()->index(cell.y(), cell.x());
    update(index);
    if (!visualRect(index).contains(pos))
        return;
    const TCellKind& k = cellKind(cell.x());
    if (k.Kind == KindCheck)
        setCells(cell.x(), cell.y(), toggledCheckText(k, Cells(cell.x(), cell.y())));
    emit OnGridBtnClick(this, cell.x(), cell.y());
}

void TComboGrid::mousePressEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton) {
        const int c = sizingColumnAt(e->position().toPoint());
        if (c >= 0) {
            sizing_ = c;
            sizingFrom_ = e->position().toPoint().x();
            sizingWidth_ = columnWidth(c);
            e->accept();
            return;
        }
    }
    // A heading is neither selected nor made current; the view does not move.
    const QModelIndex hit = indexAt(e->position().toPoint());
    if (hit.isValid() && isFixedCell(hit.column(), hit.row())) {
        e->accept();
        return;
    }
    QTableWidget::mousePressEvent(e);
    if (e->button() == Qt::LeftButton)
        pressAt(indexAt(e->position().toPoint()));
}

void TComboGrid::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    if (sizing_ >= 0) {
        setColumnWidth(sizing_, std::max(1, sizingWidth_ + pos.x() - sizingFrom_));
        placeEditor();
        e->accept();
        return;
    }
    if (columnSizing_) {
        if (sizingColumnAt(pos) >= 0)
            viewport()->setCursor(Qt::SplitHCursor);
        else
            viewport()->unsetCursor();
    }
    QTableWidget::mouseMoveEvent(e);
}

void TComboGrid::mouseReleaseEvent(QMouseEvent* e)
{
    if (sizing_ >= 0 && e->button() == Qt::LeftButton) {
        sizing_ = -1;
        e->accept();
        return;
    }
    QTableWidget::mouseReleaseEvent(e);
    if (e->button() != Qt::LeftButton)
        return;
    const QModelIndex at = indexAt(e->position().toPoint());
    if (at.isValid() && cellKind(at.column()).Kind == KindDropDown && editor_)
        editor_->applyTextArea();
    releaseAt(e->position().toPoint());
}

void TComboGrid::keyPressEvent(QKeyEvent* e)
{
    const QModelIndex cur = currentIndex();
    const int kind = cur.isValid() ? cellKind(cur.column()).Kind : KindText;
    if (cur.isValid() && (kind == KindButton || kind == KindCheck) && e->key() == Qt::Key_Space) {
        if (!e->isAutoRepeat())
            pressAt(cur);
        e->accept();
        return;
    }
    if (cur.isValid() && kind == KindButton && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
        && !isFixedCell(cur.column(), cur.row())) {
        emit OnGridBtnClick(this, cur.column(), cur.row());
        e->accept();
        return;
    }
    QTableWidget::keyPressEvent(e);
}

void TComboGrid::keyReleaseEvent(QKeyEvent* e)
{
    const QModelIndex cur = currentIndex();
    if (cur.isValid() && e->key() == Qt::Key_Space && !e->isAutoRepeat()) {
        const int kind = cellKind(cur.column()).Kind;
        if (kind == KindButton || kind == KindCheck) {
            releaseAt(visualRect(cur).topLeft());
            e->accept();
            return;
        }
    }
    QTableWidget::keyReleaseEvent(e);
}

// --- stored description

QList<CellDataEntry> TComboGrid::cellData() const
{
    QList<CellDataEntry> out;
    for (int r = 0; r < rowCount(); ++r)
        for (int c = 0; c < columnCount(); ++c)
            if (QString t = Cells(c, r); !t.isEmpty())
                out.append({c, r, t});
    return out;
}

void TComboGrid::setCellData(const QList<CellDataEntry>& entries)
{
    for (const CellDataEntry& e : entries)
        setCells(e.col, e.row, e.text);
}

QList<CellKindEntry> TComboGrid::cellKinds() const
{
    QList<CellKindEntry> out;
    for (int c = 0; c < columnCount(); ++c) {
        const TCellKind& k = cellKind(c);
        out.append({k.Kind, k.TitleAlignment(), k.CellAlignment(), k.Items, k.DropDownWidth, k.TextMargin,
                    k.EditLimit, k.CanEdit});
    }
    return out;
}

void TComboGrid::setCellKinds(const QList<CellKindEntry>& entries)
{
    kinds_.clear();
    for (const CellKindEntry& e : entries) {
        auto k = std::make_unique<TCellKind>(this);
        k->Kind = e.Kind;
        k->setTitleAlignment(e.TitleAlignment);
        k->setCellAlignment(e.CellAlignment);
        k->Items = e.Items;
        k->DropDownWidth = e.DropDownWidth;
        k->TextMargin = e.TextMargin;
        k->EditLimit = e.EditLimit;
        k->CanEdit = e.CanEdit;
        kinds_.push_back(std::move(k));
    }
    viewport()->update();
}

void TComboGrid::setDescription(const ComboGridDescription& d)
{
    setCellKinds(d.CellKind);
    setCellData(d.CellData);
}

// --- drawing

void TComboGrid::drawText(QPainter* p, const QRect& r, const QString& text, int bits, int margin, bool fixed)
{
    if (text.isEmpty())
        return;
    const QFontMetrics fm(p->font());
    const QRect tr = alignedTextRect(r, QSize(fm.horizontalAdvance(text), fm.height()), bits, margin, fixed);
    p->save();
    p->setClipRect(r);
    p->drawText(tr, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    p->restore();
}

void TComboGrid::drawButtonCell(QPainter* p, const QRect& r, const TCellKind& k, const QString& text, bool pressed)
{
    const QString caption = k.item(0) == kUseCellData ? text : k.item(0);
    qDrawWinButton(p, r, palette(), pressed, &palette().brush(QPalette::Button));
    p->setPen(palette().color(QPalette::Light));
    p->drawLine(r.topLeft(), r.bottomLeft());
    p->drawLine(r.topLeft(), r.topRight());
    p->setPen(palette().color(QPalette::ButtonText));
    p->save();
    p->setClipRect(r);
    p->drawText(r.translated(pressed ? 1 : 0, pressed ? 1 : 0), Qt::AlignCenter, caption);
    p->restore();
}

void TComboGrid::drawCheckCell(QPainter* p, const QRect& r, const TCellKind& k, const QString& text, bool pressed)
{
    qDrawWinPanel(p, r, palette(), false, &palette().brush(QPalette::Button));
    qDrawWinPanel(p, r.adjusted(2, 2, -2, -2), palette(), true, &palette().brush(QPalette::Button));
    const QRect box(r.left() + (r.width() - 13) / 2, r.top() + (r.height() - 13) / 2, 13, 13);
    const int at = k.indexOf(text);
    QColor fill = palette().color(QPalette::Base);
    if (pressed)
        fill = palette().color(QPalette::Button);
    else if (at < 0)
        fill = palette().color(QPalette::Disabled, QPalette::Text);
    const QBrush brush(fill);
    qDrawWinPanel(p, box, palette(), true, &brush);
    if (at >= 0 && k.Items[at].mark == 0) {
        p->setPen(QPen(palette().color(QPalette::ButtonText), 2));
        p->drawLine(box.left() + 3, box.top() + 3, box.right() - 3, box.bottom() - 3);
        p->drawLine(box.left() + 3, box.bottom() - 3, box.right() - 3, box.top() + 3);
    }
}

void TComboGrid::paintCell(QPainter* p, const QStyleOptionViewItem& option, int col, int row)
{
    const QRect r = option.rect;
    if (r.isEmpty())
        return;
    p->save();
    p->setFont(option.font);
    const TCellKind& k = cellKind(col);
    const QString text = Cells(col, row);
    const bool fixedRow = row < fixedRows_;
    const bool fixed = isFixedCell(col, row);
    if (fixed) {
        if (fixedRow || k.Kind == KindText || k.Kind == KindDropDown) {
            qDrawWinPanel(p, r, palette(), false, &palette().brush(QPalette::Button));
            p->setPen(palette().color(QPalette::ButtonText));
            drawText(p, r, text, k.TitleAlignment(), k.TextMargin, true);
        } else if (k.Kind == KindButton) {
            drawButtonCell(p, r, k, text, false);
        } else {
            drawCheckCell(p, r, k, text, false);
        }
    } else if (k.Kind == KindButton || k.Kind == KindCheck) {
        const bool pressed = pressed_ == QPoint(col, row);
        const QString caption = k.Kind == KindCheck || k.item(0) == kUseCellData ? text : k.item(0);
        if (k.Kind == KindButton)
            drawButtonCell(p, r, k, caption, pressed);
        else
            drawCheckCell(p, r, k, text, pressed);
        if ((option.state & QStyle::State_HasFocus) && hasFocus()) {
            QStyleOptionFocusRect fo;
            fo.initFrom(this);
            fo.rect = r.adjusted(2, 2, -2, -2);
            style()->drawPrimitive(QStyle::PE_FrameFocusRect, &fo, p, this);
        }
    } else {
        const bool selected = option.state & QStyle::State_Selected;
        p->fillRect(r, palette().brush(selected ? QPalette::Highlight : QPalette::Base));
        p->setPen(palette().color(selected ? QPalette::HighlightedText : QPalette::Text));
        drawText(p, r, displayText(col, row), k.CellAlignment(), k.TextMargin, false);
    }
    p->restore();
    emit OnDrawCell(this, col, row, r, option.state);
}

} // namespace vemo::query
