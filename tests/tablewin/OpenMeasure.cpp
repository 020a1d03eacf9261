// Measures the time from the open command to the first painted grid rows of a table window
// on a large dBASE table (written here record by record). Prints the numbers; asserts nothing
// about durations.
//   tablewin_open_measure [RECORDS [PICTURE.png]]   (default 1000000)
#include "tablewin/TDBGrid2.h"
#include "tablewin/TMDIChild.h"

#include "engine/drivers/Drivers.h"
#include "engine/session/Session.h"
#include "engine/dataset/Table.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstring>
#include <fstream>

using namespace vemo;

namespace {

// A dBASE III table: ID N(10), NAME C(30), AMOUNT N(12,2).
void writeDbf(const std::string& path, int64_t records)
{
    struct Field { const char* name; char type; uint8_t len, dec; };
    const Field fields[] = {{"ID", 'N', 10, 0}, {"NAME", 'C', 30, 0}, {"AMOUNT", 'N', 12, 2}};
    const uint16_t recLen = 1 + 10 + 30 + 12;
    const uint16_t hdrLen = 32 + 32 * 3 + 1;
    std::ofstream out(path, std::ios::binary);
    unsigned char h[32] = {0x03, 126, 12, 8};
    std::memcpy(h + 4, &records, 4);
    std::memcpy(h + 8, &hdrLen, 2);
    std::memcpy(h + 10, &recLen, 2);
    out.write(reinterpret_cast<char*>(h), 32);
    for (const Field& f : fields) {
        unsigned char d[32] = {};
        std::strncpy(reinterpret_cast<char*>(d), f.name, 10);
        d[11] = static_cast<unsigned char>(f.type);
        d[16] = f.len;
        d[17] = f.dec;
        out.write(reinterpret_cast<char*>(d), 32);
    }
    out.put(0x0D);
    std::string rec;
    char buf[64];
    for (int64_t i = 0; i < records; ++i) {
        rec = " ";
        std::snprintf(buf, sizeof buf, "%10lld", static_cast<long long>(i + 1));
        rec += buf;
        std::snprintf(buf, sizeof buf, "%-30s", ("NAME " + std::to_string(i * 7919 % records)).c_str());
        rec += buf;
        std::snprintf(buf, sizeof buf, "%12.2f", static_cast<double>(i % 100000) / 4.0);
        rec += buf;
        out.write(rec.data(), static_cast<std::streamsize>(rec.size()));
    }
    out.put(0x1A);
}

struct PaintWatch : QObject {
    bool painted = false;
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            painted = true;
        return false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    qputenv("XDG_DATA_HOME", home.filePath("data").toUtf8());
    QApplication app(argc, argv);
    const int64_t records = argc > 1 ? std::atoll(argv[1]) : 1000000;
    const std::string file = home.filePath("BIG.DBF").toStdString();
    QElapsedTimer clock;
    clock.start();
    writeDbf(file, records);
    std::printf("wrote %lld records (%.1f MB) in %lld ms\n", static_cast<long long>(records),
                (32.0 + 97 + 53.0 * records) / 1e6, static_cast<long long>(clock.elapsed()));

    engine::Session session(home.filePath("engine.cfg").toStdString());
    engine::registerBuiltinDrivers(session);
    session.open();

    for (int run = 0; run < 3; ++run) {
        clock.restart();
        auto w = std::make_unique<vemo::tablewin::TMDIChild>(session, nullptr);
        PaintWatch watch;
        w->grid()->viewport()->installEventFilter(&watch);
        w->setPersistence(0);
        w->Table1().setTableName(file);
        w->Table1().setCachedUpdates(false);
        w->Table1().open();
        const qint64 opened = clock.elapsed();
        w->show();
        while (!watch.painted)
            QApplication::processEvents();
        const qint64 painted = clock.elapsed();
        std::printf("run %d: opened in %lld ms, first rows painted after %lld ms; %s records shown\n",
                    run + 1, static_cast<long long>(opened), static_cast<long long>(painted),
                    w->statusPanelText(1).toUtf8().constData());
        // Scroll to the end: the last records come on demand too.
        clock.restart();
        w->KL1Click();
        watch.painted = false;
        w->grid()->viewport()->update();
        while (!watch.painted)
            QApplication::processEvents();
        if (run == 0 && argc > 2)
            w->grab().save(QString::fromLocal8Bit(argv[2])); // a picture of the window, when asked
        std::printf("        last record shown after %lld ms: %s\n", static_cast<long long>(clock.elapsed()),
                    w->grid()->model()->index(w->grid()->currentIndex().row(), 0).data().toString().toUtf8().constData());
    }
    return 0;
}
