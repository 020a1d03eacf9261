// The database window's definition printing: the printer set-up, then one print job per
// style and selected table.
#include "dbwindow/DefinitionPrint.h"
#include "dbwindow/PrintCanvas.h"
#include "dbwindow/TAlias_Open.h"
#include "engine/dataset/Table.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"
#include "tablewin/DefinitionListing.h"

#include <QCoreApplication>
#include <QDir>
#include <QListWidget>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>

namespace vemo::dbwindow {

namespace {

// One job: a painter on the printer for as long as the job runs.
template <typename Draw>
void printJob(QPrinter& printer, const QString& title, Draw draw)
{
    printer.setDocName(title);
    QPainter painter;
    if (!painter.begin(&printer))
        throw std::runtime_error(QStringLiteral("印刷を開始できません: %1")
                                     .arg(printer.outputFileName().isEmpty() ? printer.printerName()
                                                                             : printer.outputFileName())
                                     .toStdString());
    QPainterCanvas canvas(painter, printer);
    draw(canvas);
    if (!painter.end())
        throw std::runtime_error("印刷を終了できません");
}

void letMessagesRun()
{
    QCoreApplication::processEvents();
}

} // namespace

void TAlias_Open::Print1Click()
{
    const QStringList tables = selectedNames(LB1);
    const int type = shell::settings().printType;
    const bool fields = type % 2 != 0, indexes = type / 2 == 1;
    QPrinter printer(QPrinter::HighResolution);
    if (QPrinterInfo::availablePrinters().isEmpty()) {
        // No printer configured: the set-up offers a PDF file.
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QDir::home().filePath(QStringLiteral("vemo32.pdf")));
    }
    if (!shell::printerSetup(this, &printer))
        return;
    const QString chosenFile = printer.outputFormat() == QPrinter::PdfFormat ? printer.outputFileName() : QString();
    const int jobs = int(tables.size()) * ((fields ? 1 : 0) + (indexes ? 1 : 0));
    for (const QString& table : tables) {
        try {
            Table1->close();
            Table1->setDatabaseName(selectedAlias().toStdString());
            Table1->setTableName(table.toStdString());
            if (fields) {
                if (!chosenFile.isEmpty())
                    printer.setOutputFileName(jobFileName(chosenFile, table, 1, jobs));
                VEMO_prn(printer);
            }
            if (indexes) {
                if (!chosenFile.isEmpty())
                    printer.setOutputFileName(jobFileName(chosenFile, table, 2, jobs));
                VEMO_prn2(printer);
            }
        } catch (const std::exception& e) {
            // This table's printing ends here; the next selected table still prints.
            Table1->close();
            shell::showError(this, QString::fromStdString(e.what()));
        }
    }
}

void TAlias_Open::VEMO_prn(QPrinter& printer)
{
    tablewin::Listing SG1;
    tablewin::fillListing(*Table1, SG1); // opens and closes Table1; raises when it cannot
    const QString table = QString::fromStdString(Table1->tableName());
    printJob(printer, table, [&](PrintCanvas& c) {
        printFieldDefinitions(c, table, SG1, letMessagesRun);
    });
}

void TAlias_Open::VEMO_prn2(QPrinter& printer)
{
    Table1->open();
    std::vector<engine::IndexDef> defs;
    try {
        defs = Table1->indexDefs();
    } catch (...) {
        Table1->close();
        throw;
    }
    Table1->close();
    const QString table = QString::fromStdString(Table1->tableName());
    printJob(printer, table, [&](PrintCanvas& c) {
        printIndexDefinitions(c, table, defs, letMessagesRun);
    });
}

} // namespace vemo::dbwindow
