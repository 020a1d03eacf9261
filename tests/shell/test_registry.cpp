// The settings store against its own file: operation semantics, the file format and its
// escaping, damaged files, and two processes writing at once.
#include "shell/Registry.h"
#include "shell/RegistryError.h"
#include "shell/RegistryFile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

using namespace vemo::shell;

namespace {
const QString kKey = QStringLiteral("SOFTWARE\\VEMO32");

QByteArray fileBytes()
{
    QFile f(registryFilePath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(registryFilePath()).absolutePath());
    QFile f(registryFilePath());
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}
} // namespace

class TestRegistry : public QObject {
    Q_OBJECT
    std::unique_ptr<QTemporaryDir> dir_;
    QStringList problems_;

private slots:
    void init()
    {
        dir_ = std::make_unique<QTemporaryDir>();
        qputenv("XDG_CONFIG_HOME", dir_->path().toLocal8Bit());
        problems_.clear();
        setRegistryProblemHandler([this](const QString& m) { problems_.append(m); });
    }

    void filePathFollowsXdgConfigHome()
    {
        QCOMPARE(registryFilePath(), dir_->path() + "/vemo32/registry.reg");
    }

    void readsCreateNothing()
    {
        QCOMPARE(readSetting(kKey, "OPEN_DIR"), QString());
        QVERIFY(!QFile::exists(registryFilePath()));
        writeSetting(kKey, "A", "1");
        const QByteArray before = fileBytes();
        QCOMPARE(readSetting(kKey + "\\MISSING\\DEEPER", "X"), QString());
        QCOMPARE(readSetting(kKey, "NOPE"), QString());
        QCOMPARE(fileBytes(), before);
    }

    void writeReadCaseInsensitive()
    {
        writeSetting(kKey, "OPEN_DIR", "/data");
        QCOMPARE(readSetting("software\\vemo32", "open_dir"), QString("/data"));
        writeSetting("Software\\Vemo32", "Open_Dir", "/other");
        QCOMPARE(readSetting(kKey, "OPEN_DIR"), QString("/other"));
        // one value, not two, and the first spelling of the name is kept
        const QString text = QString::fromUtf8(fileBytes());
        QCOMPARE(text.count("OPEN_DIR", Qt::CaseInsensitive), 1);
        QVERIFY(text.contains("\"OPEN_DIR\"=\"/other\""));
        writeSetting(kKey, "EMPTY", "");
        QCOMPARE(readSetting(kKey, "EMPTY"), QString());
    }

    void trailingBlankNamesAreDistinct()
    {
        writeSetting(kKey, "FORMTOP ", "10");
        writeSetting(kKey, "FORMTOP", "99");
        QCOMPARE(readSetting(kKey, "FORMTOP "), QString("10"));
        QCOMPARE(readSetting(kKey, "FORMTOP"), QString("99"));
    }

    void fileFormat()
    {
        writeSetting(kKey + "\\TABLE\\DEMO-CUST", "DB_NAME", "demo");
        const QString text = QString::fromUtf8(fileBytes());
        QVERIFY(text.startsWith("Windows Registry Editor Version 5.00\n\n"));
        // ancestors are written as keys of their own, parents first
        const auto root = text.indexOf("[HKEY_CURRENT_USER\\SOFTWARE\\VEMO32]\n");
        const auto table = text.indexOf("[HKEY_CURRENT_USER\\SOFTWARE\\VEMO32\\TABLE]\n");
        const auto rec = text.indexOf("[HKEY_CURRENT_USER\\SOFTWARE\\VEMO32\\TABLE\\DEMO-CUST]\n\"DB_NAME\"=\"demo\"\n");
        QVERIFY(root >= 0 && table > root && rec > table);
    }

    void valuesRoundTrip_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");
        QTest::newRow("quotes and backslashes") << "a\"b\\c" << "C:\\dir\\\"x\"\\";
        QTest::newRow("line breaks") << "multi" << "line1\nline2\r\nline3\n";
        QTest::newRow("escape lookalikes") << "n" << "\\n is not a line break, \\x41 neither";
        QTest::newRow("control characters") << "ctl" << QString("a\tb") + QChar(1) + QChar(0x1f) + "c";
        QTest::newRow("japanese") << "ﾃｰﾌﾞﾙ名" << "テーブル編集 - [顧客]";
        QTest::newRow("brackets") << "[x]" << "[HKEY_CURRENT_USER\\FAKE]";
    }
    void valuesRoundTrip()
    {
        QFETCH(QString, name);
        QFETCH(QString, value);
        writeSetting(kKey, name, value);
        QCOMPARE(readSetting(kKey, name), value);
        // every value stays on its own line
        for (const QByteArray& line : fileBytes().split('\n'))
            QVERIFY2(line.isEmpty() || line.startsWith('[') || line.startsWith('"') || line.startsWith("Windows"),
                     line.constData());
    }

    void keyNamesWithOddCharacters()
    {
        const QString pathKey = kKey + "\\TABLE\\DEMO-/home/u/data/CUST.DB";
        const QString bracketKey = kKey + "\\x]y[z]";
        writeSetting(pathKey, "TBL_NAME", "/home/u/data/CUST.DB");
        writeSetting(bracketKey, "V", "1");
        QCOMPARE(readSetting(pathKey, "TBL_NAME"), QString("/home/u/data/CUST.DB"));
        QCOMPARE(readSetting(bracketKey, "V"), QString("1"));
        QCOMPARE(listSubkeys(kKey + "\\TABLE"), QStringList{"DEMO-/home/u/data/CUST.DB"});
        QVERIFY(listSubkeys(kKey).contains("x]y[z]"));
        QVERIFY_THROWS_EXCEPTION(RegistryError, writeSetting(kKey + "\\a\nb", "V", "1"));
        QVERIFY_THROWS_EXCEPTION(RegistryError, writeSetting(kKey + "\\\\b", "V", "1"));
    }

    void deleteKeyRemovesSubtreeOnly()
    {
        writeSetting(kKey + "\\TABLE\\A", "DB_NAME", "a");
        writeSetting(kKey + "\\TABLE\\A\\DEEP", "X", "1");
        writeSetting(kKey + "\\TABLEX", "DB_NAME", "keep");
        writeSetting(kKey, "OPEN_DIR", "/d");
        deleteKey("software\\vemo32\\table");
        QCOMPARE(readSetting(kKey + "\\TABLE\\A", "DB_NAME"), QString());
        QCOMPARE(readSetting(kKey + "\\TABLE\\A\\DEEP", "X"), QString());
        QCOMPARE(readSetting(kKey + "\\TABLEX", "DB_NAME"), QString("keep"));
        QCOMPARE(readSetting(kKey, "OPEN_DIR"), QString("/d"));
        const QByteArray before = fileBytes();
        deleteKey(kKey + "\\NEVER\\RECORDED"); // missing: no error, no change
        QCOMPARE(fileBytes(), before);
        deleteKey(kKey);
        QVERIFY(!fileBytes().contains("VEMO32"));
    }

    void listSubkeysCreatesMissingKey()
    {
        QCOMPARE(listSubkeys(kKey + "\\SQL"), QStringList());
        QVERIFY(fileBytes().contains("[HKEY_CURRENT_USER\\SOFTWARE\\VEMO32\\SQL]"));
        writeSetting(kKey + "\\SQL\\DEMO", "DB_NAME", "demo");
        writeSetting(kKey + "\\SQL\\demo2\\sub", "X", "1");
        QCOMPARE(listSubkeys(kKey + "\\sql"), (QStringList{"DEMO", "demo2"}));
    }

    void handEditedFileIsRead()
    {
        writeFile("\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n; a comment\r\n"
                  "[HKEY_CURRENT_USER\\SOFTWARE\\VEMO32\\TABLE\\X\\Y]\r\n\"A\"=\"1\"\r\n"
                  "[HKEY_CURRENT_USER\\Software\\Vemo32]\r\n\"RSM_FORM\"=\"True\"\r\n");
        QCOMPARE(readSetting(kKey, "RSM_FORM"), QString("True"));
        QCOMPARE(readSetting(kKey + "\\TABLE\\X\\Y", "A"), QString("1"));
        // a key present only as an ancestor still lists
        QCOMPARE(listSubkeys(kKey + "\\TABLE"), QStringList{"X"});
        QVERIFY(problems_.isEmpty());
    }

    void damagedFileMovedAsideAndReportedOnce_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no header") << QByteArray("[HKEY_CURRENT_USER\\SOFTWARE\\VEMO32]\n\"A\"=\"1\"\n");
        QTest::newRow("dword value") << QByteArray("Windows Registry Editor Version 5.00\n\n"
                                                   "[HKEY_CURRENT_USER\\SOFTWARE\\VEMO32]\n\"A\"=dword:00000001\n");
        QTest::newRow("unterminated") << QByteArray("Windows Registry Editor Version 5.00\n\n"
                                                    "[HKEY_CURRENT_USER\\SOFTWARE\\VEMO32]\n\"A\"=\"1\n");
        QTest::newRow("bad utf-8") << QByteArray("Windows Registry Editor Version 5.00\n\n"
                                                 "[HKEY_CURRENT_USER\\SOFTWARE\\VEMO32]\n\"A\"=\"\xff\xfe\"\n");
        QTest::newRow("other hive") << QByteArray("Windows Registry Editor Version 5.00\n\n"
                                                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\VEMO32]\n");
    }
    void damagedFileMovedAsideAndReportedOnce()
    {
        QFETCH(QByteArray, content);
        writeFile(content);
        QCOMPARE(readSetting(kKey, "A"), QString());
        QCOMPARE(problems_.size(), 1);
        QVERIFY(problems_[0].contains("registry.reg.damaged-"));
        const QStringList aside = QDir(QFileInfo(registryFilePath()).absolutePath())
                                      .entryList({"registry.reg.damaged-*"}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QFile kept(QFileInfo(registryFilePath()).absolutePath() + "/" + aside[0]);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), content); // the user's file is kept byte for byte
        writeSetting(kKey, "A", "2");
        QCOMPARE(readSetting(kKey, "A"), QString("2"));
        QCOMPARE(problems_.size(), 1);
    }

    void failedWriteThrowsAndKeepsOldFile()
    {
        writeSetting(kKey, "A", "1");
        const QByteArray before = fileBytes();
        // the temporary file cannot be created (even as root): the write fails loudly
        QVERIFY(QDir().mkpath(registryFilePath() + ".tmp/blocker"));
        QVERIFY_THROWS_EXCEPTION(RegistryError, writeSetting(kKey, "A", "2"));
        QCOMPARE(fileBytes(), before);
        QCOMPARE(readSetting(kKey, "A"), QString("1"));
    }

    void unreadableFileThrowsAndIsKept()
    {
        // a folder where the file should be cannot be read: an error, not an empty store
        QDir().mkpath(registryFilePath());
        QVERIFY_THROWS_EXCEPTION(RegistryError, readSetting(kKey, "A"));
        QVERIFY_THROWS_EXCEPTION(RegistryError, writeSetting(kKey, "A", "1"));
        QVERIFY(QFileInfo(registryFilePath()).isDir());
    }

    void parserRoundTrip()
    {
        RegistryData d;
        d.ensure({"SOFTWARE", "VEMO32", "b"}).values = {{"x", "1\n2"}, {"y\"", "\\"}};
        d.ensure({"SOFTWARE", "VEMO32", "A"}).values = {{"", ""}};
        QString error;
        const auto back = parseRegistryText(serializeRegistry(d), &error);
        QVERIFY2(back.has_value(), qPrintable(error));
        QCOMPARE(*back, d);
        QCOMPARE(back->sections[2].path.last(), QString("A")); // sorted case-insensitively
        QVERIFY(!parseRegistryText("Windows Registry Editor Version 5.00\n\"A\"=\"1\"\n", &error));
        QVERIFY(error.startsWith("line 2"));
    }

    void twoProcessesLoseNoWrite()
    {
        const int count = 150;
        const QString key = kKey + "\\RACE";
        QProcess a, b;
        for (QProcess* p : {&a, &b})
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        a.start(REGISTRY_WRITER, {key, "A", QString::number(count)});
        b.start(REGISTRY_WRITER, {key, "B", QString::number(count)});
        for (int i = 0; i < count; i += 10)
            writeSetting(key, QStringLiteral("MAIN_%1").arg(i), "m"); // a third writer, in-process
        QVERIFY(a.waitForFinished(120000));
        QVERIFY(b.waitForFinished(120000));
        QCOMPARE(a.exitCode(), 0);
        QCOMPARE(b.exitCode(), 0);
        for (int i = 0; i < count; ++i) {
            QCOMPARE(readSetting(key, QStringLiteral("A_%1").arg(i)), QString::number(i));
            QCOMPARE(readSetting(key, QStringLiteral("B_%1").arg(i)), QString::number(i));
        }
        for (int i = 0; i < count; i += 10)
            QCOMPARE(readSetting(key, QStringLiteral("MAIN_%1").arg(i)), QString("m"));
        QVERIFY(problems_.isEmpty());
        QVERIFY(!QFile::exists(registryFilePath() + ".tmp"));
    }
};

QTEST_GUILESS_MAIN(TestRegistry)
#include "test_registry.moc"
