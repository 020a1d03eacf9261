#include "query/CellFormat.h"
#include "query/ComboGridDescription.h"
#include "query/TComboGrid.h"
#include "query/TComboInplaceEdit.h"
#include "query/TInplaceListBox.h"

#include <QApplication>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using namespace vemo::query;

class ComboGridTest : public QObject {
    Q_OBJECT

    // A shown grid: 3 columns, 1 heading row, 4 data rows, no fixed column.
    std::unique_ptr<TComboGrid> makeGrid()
    {
        auto g = std::make_unique<TComboGrid>();
        g->setColCount(3);
        g->setRowCount(5);
        g->setFixedCols(0);
        g->setFixedRows(1);
        g->setEditingOption(true);
        for (int c = 0; c < 3; ++c)
            g->setColumnWidth(c, 80);
        g->resize(300, 200);
        g->show();
        if (!QTest::qWaitForWindowExposed(g.get()))
            qWarning("grid not exposed");
        return g;
    }
    QPoint centre(TComboGrid& g, int col, int row)
    {
        return g.visualRect(g.model()->index(row, col)).center();
    }

private slots:
    void numberFormat_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("expected");
        QTest::newRow("thousands and two decimals") << "#,##0.00" << 1234.5 << "1,234.50";
        QTest::newRow("negative keeps its sign") << "#,##0" << -1234567.0 << "-1,234,567";
        QTest::newRow("rounds half away") << "0.0" << 2.25 << "2.3";
        QTest::newRow("optional decimals trimmed") << "0.##" << 3.1 << "3.1";
        QTest::newRow("zero integer placeholder") << "#.00" << 0.5 << ".50";
        QTest::newRow("literals around") << "\"JPY \"#,##0" << 1000.0 << "JPY 1,000";
        QTest::newRow("negative section") << "0;(0)" << -5.0 << "(5)";
        QTest::newRow("zero section") << "0;-0;nil" << 0.0 << "nil";
        QTest::newRow("rounded to zero has no sign") << "0.0" << -0.01 << "0.0";
    }
    void numberFormat()
    {
        QFETCH(QString, format);
        QFETCH(double, value);
        QFETCH(QString, expected);
        QCOMPARE(formatNumber(format, value), expected);
    }

    void cellNumbersAndMasks()
    {
        QCOMPARE(cellNumber(" 1234.5 ").value_or(0), 1234.5);
        QVERIFY(!cellNumber("abc").has_value());
        QVERIFY(!cellNumber("").has_value());
        QVERIFY(!cellNumber("12abc").has_value());
        QCOMPARE(toInputMask(""), QString());
        QCOMPARE(toInputMask("000-0000;1;_"), QString("999-9999;_"));
        QCOMPARE(toInputMask("!99/99;0;*"), QString("00/00;*"));
        QCOMPARE(toInputMask(">LL<>ll"), QString(">AA!aa;_"));
        // Letters that are literal here but special to the editor get escaped.
        QCOMPARE(toInputMask("H\\0"), QString("\\H\\0;_"));
    }

    void alignmentPlacesText()
    {
        const QRect cell(10, 20, 100, 16);
        const QSize text(40, 12);
        QCOMPARE(alignedTextRect(cell, text, 17, 2, false).topLeft(), QPoint(12, 22));
        QCOMPARE(alignedTextRect(cell, text, 20, 2, false).right(), 107);
        QCOMPARE(alignedTextRect(cell, text, 18, 2, false).left(), 40);
        QCOMPARE(alignedTextRect(cell, text, 1 | 8, 2, false).top(), 22);
        QCOMPARE(alignedTextRect(cell, text, 1 | 32, 2, true).bottom(), 33);
        QCOMPARE(alignedTextRect(cell, text, 1 | 32, 2, false).bottom(), 35);
        // Both bits of a pair: right and bottom win.
        QCOMPARE(alignedTextRect(cell, text, 1 | 4 | 8 | 32, 2, false).right(), 107);
        QCOMPARE(alignedTextRect(cell, text, 1 | 4 | 8 | 32, 2, false).bottom(), 35);
    }

    void defaultKindAndEditorRules()
    {
        TComboGrid g;
        g.setEditingOption(true);
        const TCellKind& k = g.cellKind(4);
        QCOMPARE(k.Kind, 0);
        QCOMPARE(k.CellAlignment(), 17);
        QCOMPARE(k.TitleAlignment(), 17);
        QCOMPARE(k.TextMargin, 2);
        QCOMPARE(k.EditLimit, 0);
        QVERIFY(k.CanEdit);
        QVERIFY(g.canShowEditor(1, 1));
        QVERIFY(!g.canShowEditor(0, 1));   // fixed column
        QVERIFY(!g.canShowEditor(1, 0));   // fixed row
        g.cellKind(2).Kind = KindButton;
        g.cellKind(3).Kind = KindCheck;
        g.cellKind(4).CanEdit = false;
        QVERIFY(!g.canShowEditor(2, 1));
        QVERIFY(!g.canShowEditor(3, 1));
        QVERIFY(!g.canShowEditor(4, 1));
        g.setEditingOption(false);
        QVERIFY(!g.canShowEditor(1, 1));

        g.cellKind(1).setItems(QStringList{"000;1;_", "#,##0"});
        g.cellKind(1).EditLimit = 7;
        QCOMPARE(g.editMask(1, 1), QString("000;1;_"));
        QCOMPARE(g.editLimit(1, 1), 7);
        g.cellKind(1).Kind = KindDropDown;
        QCOMPARE(g.editMask(1, 1), QString());
        QCOMPARE(g.editLimit(1, 1), 0);
    }

    void checkToggleRules()
    {
        TCellKind k;
        k.Kind = KindCheck;
        k.Items = {{"Y", 0}, {"N", 1}, {"?", 2}};
        QCOMPARE(toggledCheckText(k, "Y"), QString("N"));
        QCOMPARE(toggledCheckText(k, "N"), QString("Y"));
        QCOMPARE(toggledCheckText(k, "?"), QString("N"));
        QCOMPARE(toggledCheckText(k, "zzz"), QString("Y"));
        TCellKind none;
        none.Items = {{"A", 0}, {"B", 0}};
        QCOMPARE(toggledCheckText(none, "B"), QString("B")); // no item marked 1: unchanged
    }

    void buttonAndCheckClicks()
    {
        auto g = makeGrid();
        g->cellKind(1).Kind = KindButton;
        g->cellKind(1).setItems(QStringList{"＞"});
        g->cellKind(2).Kind = KindCheck;
        g->cellKind(2).Items = {{"T", 0}, {"F", 1}};
        g->setCells(2, 1, "F");
        g->setCells(2, 2, "not an item");
        QSignalSpy clicks(g.get(), &TComboGrid::OnGridBtnClick);

        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, centre(*g, 1, 2));
        QCOMPARE(clicks.size(), 1);
        QCOMPARE(clicks[0][1].toInt(), 1);
        QCOMPARE(clicks[0][2].toInt(), 2);

        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, centre(*g, 2, 1));
        QCOMPARE(g->Cells(2, 1), QString("T"));
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, centre(*g, 2, 2));
        QCOMPARE(g->Cells(2, 2), QString("T"));
        QCOMPARE(clicks.size(), 3);

        // Released over another cell: nothing happens, nothing stays pressed.
        QTest::mousePress(g->viewport(), Qt::LeftButton, {}, centre(*g, 2, 1));
        QCOMPARE(g->pressedCell(), QPoint(2, 1));
        QTest::mouseRelease(g->viewport(), Qt::LeftButton, {}, centre(*g, 2, 3));
        QCOMPARE(g->Cells(2, 1), QString("T"));
        QCOMPARE(clicks.size(), 3);
        QCOMPARE(g->pressedCell(), QPoint(-1, -1));

        // Check cells do not toggle while the grid is not editable; buttons still click.
        g->setEditingOption(false);
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, centre(*g, 2, 1));
        QCOMPARE(g->Cells(2, 1), QString("T"));
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, centre(*g, 1, 1));
        QCOMPARE(clicks.size(), 4);

        // Headings are never pressed.
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, centre(*g, 1, 0));
        QCOMPARE(clicks.size(), 4);
    }

    void keysOnButtonAndCheckCells()
    {
        auto g = makeGrid();
        g->cellKind(1).Kind = KindButton;
        g->cellKind(2).Kind = KindCheck;
        g->cellKind(2).Items = {{"1", 0}, {"0", 1}};
        g->setCells(2, 1, "1");
        QSignalSpy clicks(g.get(), &TComboGrid::OnGridBtnClick);
        g->setFocus();
        g->setCurrentCell(1, 2);
        QTest::keyClick(g.get(), Qt::Key_Space);
        QCOMPARE(g->Cells(2, 1), QString("0"));
        QCOMPARE(clicks.size(), 1);
        g->setCurrentCell(1, 1);
        QTest::keyClick(g.get(), Qt::Key_Return);
        QCOMPARE(clicks.size(), 2);
        QCOMPARE(clicks[1][1].toInt(), 1);
        QTest::keyClick(g.get(), Qt::Key_Space);
        QCOMPARE(clicks.size(), 3);
    }

    void dropDownEditor()
    {
        auto g = makeGrid();
        g->setAlwaysShowEditor(true);
        TCellKind& k = g->cellKind(1);
        k.Kind = KindDropDown;
        k.setItems(QStringList{"整数型", "実数型", "文字型"});
        k.DropDownWidth = 20; // narrower than the editor
        g->setCells(1, 1, "実数型");
        g->setFocus();
        g->setCurrentCell(1, 1);
        TComboInplaceEdit* ed = g->inplaceEditor();
        QVERIFY(ed);
        QCOMPARE(ed->CellKind().Kind, int(KindDropDown));
        QCOMPARE(ed->text(), QString("実数型"));
        ed->openList();
        QVERIFY(ed->listVisible());
        TInplaceListBox* list = ed->list();
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->currentItem()->text(), QString("実数型"));
        QVERIFY(list->width() >= ed->width());

        // Choosing with the keys: Down then Enter puts the item in the editor, list closes.
        QTest::keyClick(list, Qt::Key_Down);
        QTest::keyClick(list, Qt::Key_Return);
        QVERIFY(!ed->listVisible());
        QCOMPARE(ed->text(), QString("文字型"));

        // Free text stays; the list then opens with nothing selected.
        ed->setText("ユーザー型");
        ed->openList();
        QVERIFY(list->selectedItems().isEmpty());
        QTest::keyClick(list, Qt::Key_Escape);
        QVERIFY(!ed->listVisible());
        g->commitEdit();
        QCOMPARE(g->Cells(1, 1), QString("ユーザー型"));
    }

    void editLimitAndMaskReachTheEditor()
    {
        auto g = makeGrid();
        g->setAlwaysShowEditor(true);
        g->cellKind(1).EditLimit = 4;
        g->cellKind(2).setItems(QStringList{"00-00;1;_"});
        g->setFocus();
        g->setCurrentCell(1, 1);
        TComboInplaceEdit* ed = g->inplaceEditor();
        QVERIFY(ed);
        QTest::keyClicks(ed, "abcdefg");
        QCOMPARE(ed->text(), QString("abcd"));
        g->setCurrentCell(1, 2);
        QCOMPARE(g->Cells(1, 1), QString("abcd")); // moving on stores the edit
        ed = g->inplaceEditor();
        QCOMPARE(ed->inputMask(), QString("99-99;_"));
    }

    void editEndWhenTheEditorLosesFocus()
    {
        QWidget host;
        auto* g = new TComboGrid(&host);
        auto* other = new QLineEdit(&host);
        g->setGeometry(0, 0, 300, 150);
        other->setGeometry(0, 160, 100, 20);
        g->setColCount(2);
        g->setFixedCols(0);
        g->setEditingOption(true);
        g->setAlwaysShowEditor(true);
        host.show();
        QVERIFY(QTest::qWaitForWindowExposed(&host));
        host.activateWindow();
        QSignalSpy ends(g, &TComboGrid::OnEditEnd);
        g->setFocus();
        g->setCurrentCell(1, 1);
        QVERIFY(g->inplaceEditor());
        g->inplaceEditor()->setFocus();
        ends.clear(); // the grid's focus may have opened and left an editor on the first data cell
        QTest::keyClicks(g->inplaceEditor(), "typed");
        other->setFocus();
        QTRY_COMPARE(ends.size(), 1);
        QCOMPARE(g->Cells(1, 1), QString("typed")); // leaving the editor keeps the text
    }

    void numberFormatShowsWithoutChangingTheText()
    {
        TComboGrid g;
        g.cellKind(1).setItems(QStringList{"", "#,##0.00"});
        g.setCells(1, 1, "1234.5");
        g.setCells(1, 2, "abc");
        QCOMPARE(g.displayText(1, 1), QString("1,234.50"));
        QCOMPARE(g.Cells(1, 1), QString("1234.5"));
        QCOMPARE(g.displayText(1, 2), QString("abc"));
        g.cellKind(1).Kind = KindDropDown; // the format belongs to plain text cells only
        QCOMPARE(g.displayText(1, 1), QString("1234.5"));
    }

    void descriptionRoundTrip()
    {
        TComboGrid g;
        g.setColCount(3);
        ComboGridDescription d;
        d.CellData = {{0, 0, "名前"}, {2, 0, "型"}, {1, 3, "x"}};
        CellKindEntry type;
        type.Kind = KindDropDown;
        type.TitleAlignment = 18;
        type.Items = {{"整数型", 0}, {"実数型", 0}};
        type.DropDownWidth = 58;
        CellKindEntry check;
        check.Kind = KindCheck;
        check.Items = {{"Y", 0}, {"N", 1}};
        check.CanEdit = false;
        d.CellKind = {CellKindEntry{}, type, check};
        g.setDescription(readDescription(writeDescription(d)));
        QCOMPARE(g.Cells(0, 0), QString("名前"));
        QCOMPARE(g.Cells(1, 3), QString("x"));
        QCOMPARE(g.cellKind(1).DropDownWidth, 58);
        QCOMPARE(g.cellKind(1).TitleAlignment(), 18);
        QCOMPARE(g.cellKind(2).Items.at(1).mark, 1);
        QVERIFY(!g.cellKind(2).CanEdit);
        // What the grid writes back is what it was given, cells in row order.
        QCOMPARE(g.description(), d);
        QCOMPARE(g.cellData().at(1).text, QString("型"));

        // Fewer kinds than columns: the rest take defaults; reading replaces old kinds.
        g.cellKind(2).TextMargin = 9;
        ComboGridDescription shorter;
        shorter.CellKind = {type};
        g.setDescription(readDescription(writeDescription(shorter)));
        QCOMPARE(g.cellKind(0).Kind, int(KindDropDown));
        QCOMPARE(g.cellKind(2).Kind, int(KindText));
        QCOMPARE(g.cellKind(2).TextMargin, 2);
    }

    void damagedDescriptionIsRejected()
    {
        ComboGridDescription d;
        d.CellData = {{0, 0, "abc"}};
        d.CellKind = {CellKindEntry{}};
        const QByteArray good = writeDescription(d);
        for (int cut = 0; cut < good.size(); ++cut)
            QVERIFY_THROWS_EXCEPTION(DescriptionError, readDescription(good.left(cut)));
        QByteArray badKind = good;
        // The kind is the first integer after the cell data; make it 7.
        const int at = good.size() - (4 * 7 + 1);
        badKind[at + 3] = 7;
        QVERIFY_THROWS_EXCEPTION(DescriptionError, readDescription(badKind));
    }

    // Scrolled down and right, the heading row and the number column stay where they were:
    // drawn the same, hit by the mouse as headings, never selected as data.
    // A heading's right edge drags the column's width; elsewhere, or with the option off,
    // a drag changes no width.
    void columnSizingAtTheHeadings()
    {
        auto g = makeGrid();
        for (int c = 0; c < 3; ++c)
            g->setCells(c, 0, QString("H%1").arg(c));
        auto drag = [&](QPoint from, int dx) {
            QTest::mousePress(g->viewport(), Qt::LeftButton, {}, from);
            const QPointF to(from.x() + dx, from.y());
            QMouseEvent move(QEvent::MouseMove, to, g->viewport()->mapToGlobal(to), Qt::LeftButton, Qt::LeftButton, {});
            QApplication::sendEvent(g->viewport(), &move);
            QTest::mouseRelease(g->viewport(), Qt::LeftButton, {}, to.toPoint());
        };
        const QRect h0 = g->visualRect(g->model()->index(0, 0));
        const QPoint edge(h0.left() + 79, h0.center().y());
        drag(edge, 30);
        QCOMPARE(g->columnWidth(0), 80); // the option is off
        g->setColumnSizing(true);
        QCOMPARE(g->sizingColumnAt(edge), 0);
        QCOMPARE(g->sizingColumnAt(h0.center()), -1);
        drag(edge, 30);
        QCOMPARE(g->columnWidth(0), 110);
        QCOMPARE(g->columnWidth(1), 80);
        // The second column's edge has moved with the first column.
        const QRect h1 = g->visualRect(g->model()->index(0, 1));
        drag(QPoint(h1.left() + 79, h1.center().y()), -50);
        QCOMPARE(g->columnWidth(1), 30);
        // Narrower than one pixel is not possible.
        drag(QPoint(h1.left() + 29, h1.center().y()), -100);
        QCOMPARE(g->columnWidth(1), 1);
        // At a data cell's edge a drag selects or moves, it does not size.
        const QRect d = g->visualRect(g->model()->index(2, 0));
        QCOMPARE(g->sizingColumnAt(QPoint(d.right(), d.center().y())), -1);
        drag(QPoint(d.right(), d.center().y()), 20);
        QCOMPARE(g->columnWidth(0), 110);
    }

    // With range selection on, shift-click selects the cells between; off, one cell.
    void rangeSelectionOption()
    {
        auto g = makeGrid();
        g->setRangeSelection(true);
        QVERIFY(g->rangeSelection());
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, centre(*g, 0, 1));
        QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::ShiftModifier, centre(*g, 1, 3));
        QCOMPARE(int(g->selectionModel()->selectedIndexes().size()), 6);
        g->setRangeSelection(false);
        QTest::mouseClick(g->viewport(), Qt::LeftButton, {}, centre(*g, 0, 1));
        QTest::mouseClick(g->viewport(), Qt::LeftButton, Qt::ShiftModifier, centre(*g, 1, 3));
        QCOMPARE(int(g->selectionModel()->selectedIndexes().size()), 1);
    }

    void headingsStayPutWhenScrolled()
    {
        TComboGrid g;
        g.setColCount(12);
        g.setRowCount(40);
        g.setFixedRows(1);
        g.setFixedCols(1);
        g.setEditingOption(true);
        g.setDefaultRowHeight(17);
        g.setSelectionMode(QAbstractItemView::ContiguousSelection);
        for (int c = 0; c < 12; ++c) {
            g.setColumnWidth(c, 60);
            g.setCells(c, 0, QString("H%1").arg(c));
        }
        for (int r = 1; r < 40; ++r) {
            g.setCells(0, r, QString::number(r));
            for (int c = 1; c < 12; ++c)
                g.setCells(c, r, QString("%1/%2").arg(c).arg(r));
        }
        g.resize(300, 200);
        g.show();
        QVERIFY(QTest::qWaitForWindowExposed(&g));
        const QRect corner = g.visualRect(g.model()->index(0, 0));
        const QRect heading = g.visualRect(g.model()->index(0, 1));
        const QImage cornerBefore = g.viewport()->grab(corner).toImage();
        const QImage headingBefore = g.viewport()->grab(heading).toImage();

        g.verticalScrollBar()->setValue(25);
        g.horizontalScrollBar()->setValue(g.horizontalScrollBar()->maximum());
        QVERIFY2(g.rowAt(g.fixedBandHeight()) >= 20, qPrintable(QString::number(g.rowAt(g.fixedBandHeight()))));
        QCOMPARE(g.visualRect(g.model()->index(0, 0)), corner);
        QCOMPARE(g.visualRect(g.model()->index(0, 3)).top(), 0);
        QCOMPARE(g.visualRect(g.model()->index(25, 0)).left(), 0);
        QCOMPARE(g.viewport()->grab(corner).toImage(), cornerBefore);
        // The heading now over the first visible column is that column's heading.
        const int col = g.columnAt(g.fixedBandWidth());
        QVERIFY(col > 1);
        const QRect moved = g.visualRect(g.model()->index(0, col));
        QCOMPARE(moved.top(), 0);
        QCOMPARE(g.indexAt(moved.center()), g.model()->index(0, col));
        const int dataRow = g.rowAt(g.fixedBandHeight() + 20);
        QVERIFY(g.viewport()->grab(moved).toImage()
                != g.viewport()->grab(g.visualRect(g.model()->index(dataRow, col))).toImage());
        QCOMPARE(g.viewport()->grab(heading).size(), headingBefore.size());

        // Clicks on headings select nothing and leave the current cell among the data.
        g.setCurrentCell(dataRow, col);
        g.clearSelection();
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, moved.center());
        QTest::mouseClick(g.viewport(), Qt::LeftButton, {}, g.visualRect(g.model()->index(dataRow, 0)).center());
        QVERIFY(g.selectedItems().isEmpty());
        QVERIFY(!g.isFixedCell(g.currentColumn(), g.currentRow()));
        // A drag from a data cell onto the headings selects data cells only.
        const QPoint start = g.visualRect(g.model()->index(dataRow, col)).center();
        QTest::mousePress(g.viewport(), Qt::LeftButton, {}, start);
        QMouseEvent move(QEvent::MouseMove, QPointF(moved.center()), g.viewport()->mapToGlobal(QPointF(moved.center())),
                         Qt::LeftButton, Qt::LeftButton, {});
        QApplication::sendEvent(g.viewport(), &move);
        QTest::mouseRelease(g.viewport(), Qt::LeftButton, {}, moved.center());
        for (QTableWidgetItem* it : g.selectedItems())
            QVERIFY(!g.isFixedCell(it->column(), it->row()));
    }
};

QTEST_MAIN(ComboGridTest)
#include "ComboGridTest.moc"
