// Live results in the SQL window under the offscreen platform, on every kind of alias: a
// SQLite file, a PostgreSQL server, and dBASE and Paradox files through local SQL. Each
// runs the same statement in write mode, edits, meets another writer's change, deletes and
// inserts, and the table is read back by the format's own tool (sqlite3, psql,
// python3-dbfread, pxlib).
#include "query/Hooks.h"
#include "query/TSQLChild.h"

#include "PxlibPeer.h"
#include "engine/dataset/Query.h"
#include "engine/drivers/Drivers.h"
#include "engine/session/Session.h"
#include "engine/values/Codepage.h"
#include "shell/AppState.h"
#include "shell/Prompt.h"
#include "tablewin/TDBGrid2.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <sstream>

using namespace vemo;
using query::TSQLChild;

namespace {

struct Prompts {
    QStringList asked;
    Prompts()
    {
        shell::setPromptHandler([this](const shell::PromptRequest& r) {
            asked.append(r.caption + ":" + r.text);
            return shell::PromptAnswer{};
        });
    }
    ~Prompts() { shell::setPromptHandler({}); }
};

std::string run(const std::string& cmd)
{
    std::string out;
    FILE* p = popen((cmd + " 2>&1").c_str(), "r");
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;)
        out.append(buf, n);
    pclose(p);
    return out;
}

// "12.50", "100.0" and "100" are one price.
std::string number(const std::string& text)
{
    std::string s = text;
    if (s.find('.') != std::string::npos) {
        while (!s.empty() && s.back() == '0')
            s.pop_back();
        if (!s.empty() && s.back() == '.')
            s.pop_back();
    }
    return s;
}

// "id|name|price" lines sorted by id, from "|"-separated output.
QStringList normalised(const std::string& text)
{
    QStringList lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const QStringList parts = QString::fromStdString(line).split('|');
        if (parts.size() != 3 || line.rfind("FIELDS ", 0) == 0)
            continue;
        lines << parts[0] + "|" + parts[1] + "|" + QString::fromStdString(number(parts[2].toStdString()));
    }
    std::sort(lines.begin(), lines.end(), [](const QString& a, const QString& b) {
        return a.section('|', 0, 0).toLongLong() < b.section('|', 0, 0).toLongLong();
    });
    return lines;
}

std::string pgCommand(const std::string& sql)
{
    return "psql -X -A -t -q -h '" + qEnvironmentVariable("PGHOST").toStdString() + "' -p " +
           qEnvironmentVariable("PGPORT").toStdString() + " -U postgres postgres -c \"" + sql + "\"";
}

} // namespace

class LiveResultWindowTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    std::unique_ptr<engine::Session> session_;

    QString path(const char* name) const { return dir_.filePath(name); }

    // The table as the alias's own tool reads it.
    QStringList peer(const QString& alias)
    {
        if (alias == "LITE")
            return normalised(run("sqlite3 '" + path("live.sqlite").toStdString() + "' 'SELECT id, name, price FROM items'"));
        if (alias == "PG")
            return normalised(run(pgCommand("SELECT id, name, price FROM livewin.items")));
        if (alias == "DBF") {
            std::string out = run("/usr/bin/python3 " DBFREAD_SCRIPT " '" + path("dbf/ITEMS.DBF").toStdString() + "'");
            return normalised(out);
        }
        std::string out;
        for (const auto& row : pxpeer::read(path("px/ITEMS.DB").toStdString()).rows)
            out += std::to_string(row[0].l) + "|" + engine::decodeText(row[1].s, 932) + "|" + std::to_string(row[2].d) + "\n";
        return normalised(out);
    }

    // Another program changes the name of a record behind the window's back.
    void otherWriter(const QString& alias, int id, const std::string& name)
    {
        if (alias == "LITE") {
            run("sqlite3 '" + path("live.sqlite").toStdString() + "' \"UPDATE items SET name = '" + name +
                "' WHERE id = " + std::to_string(id) + "\"");
        } else if (alias == "PG") {
            run(pgCommand("UPDATE livewin.items SET name = '" + name + "' WHERE id = " + std::to_string(id)));
        } else {
            // A second engine of its own, as another program would be.
            engine::Session other(path("other.cfg").toStdString());
            engine::registerBuiltinDrivers(other);
            other.open();
            other.addAlias("X", "STANDARD",
                           {"PATH=" + path(alias == "DBF" ? "dbf" : "px").toStdString(),
                            std::string("DEFAULT DRIVER=") + (alias == "DBF" ? "DBASE" : "PARADOX")});
            other.database("X").executeSql("UPDATE ITEMS SET NAME = '" + name + "' WHERE ID = " + std::to_string(id), {});
        }
    }

    static void setCell(TSQLChild& w, int row, int column, const QString& text)
    {
        QVERIFY(w.DBG1()->model()->setData(w.DBG1()->model()->index(row, column), text, Qt::EditRole));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir_.isValid());
        session_ = std::make_unique<engine::Session>(path("engine.cfg").toStdString());
        engine::registerBuiltinDrivers(*session_);
        session_->open();

        QFile(path("live.sqlite")).open(QIODevice::WriteOnly);
        session_->addAlias("LITE", "SQLITE", {"DATABASE=" + path("live.sqlite").toStdString()});
        session_->database("LITE").executeSql("CREATE TABLE items (id INTEGER PRIMARY KEY, name VARCHAR(20), price NUMERIC(10,2))", {});
        session_->database("LITE").executeSql("INSERT INTO items VALUES (1, 'りんご', 12.50), (2, 'みかん', 100), (3, 'ぶどう', 3)", {});

        const std::string made = run(pgCommand("DROP SCHEMA IF EXISTS livewin CASCADE; CREATE SCHEMA livewin; "
                                                "CREATE TABLE livewin.items (id integer PRIMARY KEY, name varchar(20), price numeric(10,2)); "
                                                "INSERT INTO livewin.items VALUES (1, 'りんご', 12.50), (2, 'みかん', 100), (3, 'ぶどう', 3)"));
        QVERIFY2(made.find("ERROR") == std::string::npos, made.c_str());
        session_->addAlias("PG", "POSTGRESQL",
                           {"SERVER NAME=" + qEnvironmentVariable("PGHOST").toStdString(),
                            "PORT=" + qEnvironmentVariable("PGPORT").toStdString(), "DATABASE NAME=postgres",
                            "USER NAME=postgres", "SCHEMA=livewin", "SSLMODE=disable"});

        for (const char* kind : {"DBF", "PX"}) {
            const bool dbf = std::string(kind) == "DBF";
            QDir(dir_.path()).mkdir(dbf ? "dbf" : "px");
            session_->addAlias(kind, "STANDARD",
                               {"PATH=" + path(dbf ? "dbf" : "px").toStdString(),
                                std::string("DEFAULT DRIVER=") + (dbf ? "DBASE" : "PARADOX")});
            auto& db = session_->database(kind);
            auto field = [](const char* name, engine::FieldType t, const char* native, int size, int prec, int scale) {
                engine::FieldDef d;
                d.name = name;
                d.type = t;
                d.nativeType = native;
                d.size = size;
                d.precision = prec;
                d.scale = scale;
                return d;
            };
            std::vector<engine::FieldDef> fields =
                dbf ? std::vector<engine::FieldDef>{field("ID", engine::FieldType::Integer, "N", 0, 8, 0),
                                                    field("NAME", engine::FieldType::String, "C", 20, 0, 0),
                                                    field("PRICE", engine::FieldType::Float, "N", 0, 10, 2)}
                    : std::vector<engine::FieldDef>{field("ID", engine::FieldType::Integer, "", 0, 0, 0),
                                                    field("NAME", engine::FieldType::String, "", 20, 0, 0),
                                                    field("PRICE", engine::FieldType::Float, "", 0, 0, 0)};
            std::vector<engine::IndexDef> indexes;
            engine::IndexDef key;
            key.fields = "ID";
            if (dbf) {
                key.name = "ID";
            } else {
                key.primary = key.unique = true;
            }
            indexes.push_back(key);
            db.createTable(dbf ? "ITEMS.DBF" : "ITEMS.DB", fields, indexes);
            auto c = db.openTable(dbf ? "ITEMS.DBF" : "ITEMS.DB", {});
            c->insert({int64_t(1), std::string("りんご"), 12.5});
            c->insert({int64_t(2), std::string("みかん"), 100.0});
            c->insert({int64_t(3), std::string("ぶどう"), 3.0});
        }
    }

    void init() { shell::settings() = shell::AppSettings{}; }

    void editConflictDeleteAndInsert_data()
    {
        QTest::addColumn<QString>("alias");
        for (const char* a : {"LITE", "PG", "DBF", "PX"})
            QTest::newRow(a) << QString(a);
    }

    void editConflictDeleteAndInsert()
    {
        QFETCH(QString, alias);
        Prompts prompts;
        std::unique_ptr<TSQLChild> w(query::openSqlWindow(*session_, alias));
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        shell::g_windowOpening = true;
        shell::waitForFirstPaint();
        w->Memo1()->setPlainText("SELECT id, name, price FROM items ORDER BY id");
        w->TOB4()->setChecked(true);
        w->TOB4Click();
        w->TOB1Click();
        QVERIFY2(w->QRY1().isOpen(), qPrintable(prompts.asked.join('\n')));
        QCOMPARE(w->statusPanelText(2), QStringLiteral("共有可能"));
        QCOMPARE(w->statusPanelText(1), QString("3"));

        // An edit is written when the cursor leaves the record.
        setCell(*w, 0, 1, QStringLiteral("編集"));
        w->QRY_NEXT();
        QCOMPARE(peer(alias), (QStringList{"1|編集|12.5", "2|みかん|100", "3|ぶどう|3"}));

        // Someone else changed the next record: the edit is refused with the message, and
        // the other writer's value stays.
        otherWriter(alias, 2, "他人");
        setCell(*w, 1, 2, QStringLiteral("55"));
        w->QRY_NEXT();
        QCOMPARE(prompts.asked.last(), QStringLiteral("確認:他のユーザーとの競合により変更は更新されませんでした。"));
        QCOMPARE(peer(alias), (QStringList{"1|編集|12.5", "2|他人|100", "3|ぶどう|3"}));

        // Delete the last record.
        w->QRY_LAST();
        QCOMPARE(w->QRY1().fieldText(0), std::string("3"));
        const int shown = static_cast<int>(prompts.asked.size());
        w->Q_DelClick();
        QCOMPARE(static_cast<int>(prompts.asked.size()), shown);
        QCOMPARE(peer(alias), (QStringList{"1|編集|12.5", "2|他人|100"}));
        QCOMPARE(w->statusPanelText(1), QString("2"));

        // Insert a record at the end; it is written when the cursor moves on.
        w->QRY_APPEND();
        const int row = w->DBG1()->model()->rowCount() - 1;
        setCell(*w, row, 0, "10");
        setCell(*w, row, 1, QStringLiteral("新規"));
        setCell(*w, row, 2, "1.5");
        w->QRY_FIRST();
        QCOMPARE(static_cast<int>(prompts.asked.size()), shown);
        QCOMPARE(peer(alias), (QStringList{"1|編集|12.5", "2|他人|100", "10|新規|1.5"}));
        w->TOB2Click();
        QCOMPARE(w->statusPanelText(2), QString());
    }

    void readOnlyWithoutWriteModeOrWithoutIdentifiedRows()
    {
        for (const char* alias : {"LITE", "PG", "DBF", "PX"}) {
            Prompts prompts;
            std::unique_ptr<TSQLChild> w(query::openSqlWindow(*session_, alias));
            w->setAttribute(Qt::WA_DeleteOnClose, false);
            shell::g_windowOpening = true;
            shell::waitForFirstPaint();
            w->Memo1()->setPlainText("SELECT id, name FROM items");
            w->TOB1Click();
            QCOMPARE(w->statusPanelText(2), QStringLiteral("共有不可"));
            w->TOB4()->setChecked(true);
            w->TOB4Click();
            w->Memo1()->setPlainText("SELECT name, count(*) FROM items GROUP BY name");
            w->TOB1Click();
            QVERIFY2(w->QRY1().isOpen(), alias);
            QCOMPARE(w->statusPanelText(2), QStringLiteral("共有不可"));
        }
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    LiveResultWindowTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "LiveResultWindowTest.moc"
