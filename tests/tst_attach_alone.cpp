// Attaching a data file that came without its log: the server builds a new log for a database
// that was shut down cleanly, and refuses one that was not, changing nothing.
#include "WindowHarness.h"

#include "SqlQuote.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {
using sqlquote::literal;

// Attaches the data file through the page, the log field left empty as a user without a log leaves it.
void attachAlone(WindowHarness& h, const QString& name, const QString& mdf) {
    h.script.answer(Reply::OK);
    h.attach(name, mdf, QString());
}
} // namespace

class AttachAlone : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    void versions_data() {
        addVersionRows();
    }

    // Whether 2000 sends the new log's notice (5182) as a warning or an error is not known: either
    // way the database is there afterwards, and that is what the window reports.
    void aCleanlyDetachedDataFileGetsANewLog_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QStringList>("serverArguments");
        QTest::newRow("2000") << 2000 << QStringList();
        QTest::newRow("2019") << 2019 << QStringList();
        QTest::newRow("2000, the notice as an error")
            << 2000 << QStringList{QStringLiteral("--rebuilt-log-notice-as-error")};
    }
    void aCleanlyDetachedDataFileGetsANewLog() {
        QFETCH(int, version);
        QFETCH(QStringList, serverArguments);
        WindowHarness h(version, serverArguments);
        const QString files = h.folder(QStringLiteral("Зразок"));
        h.sql(QStringLiteral("CREATE DATABASE [Solo] ON PRIMARY (FILENAME = %1) LOG ON (FILENAME = %2)\n"
                             "EXEC sp_detach_db N'Solo', 'true'")
                  .arg(literal(files + "/Solo.mdf"), literal(files + "/Solo_log.ldf")));
        // Shipped as a data file only.
        QVERIFY(QFile::remove(files + "/Solo_log.ldf"));

        QVERIFY(h.connect());
        attachAlone(h, QStringLiteral("Solo"), files + "/Solo.mdf");
        QVERIFY(h.server.receivedStatements().contains(
            QStringLiteral("CREATE DATABASE [Solo]\r\nON PRIMARY (FILENAME = %1)\r\nFOR ATTACH\r\n")
                .arg(literal(files + "/Solo.mdf"))));
        const QString newLog = files + "/Solo_log.LDF";
        QCOMPARE(h.script.last().text,
                 QStringLiteral("База даних Solo успішно приєднана із файлу %1/Solo.mdf\n"
                                "Файлу журналу не було; сервер створив новий: %2.")
                     .arg(files, newLog));
        QVERIFY(QFile::exists(newLog));
        QVERIFY(h.databases().contains(QStringLiteral("Solo")));
    }

    void aDataFileNotShutDownCleanlyIsRefusedAndNothingChanges_data() { versions_data(); }
    void aDataFileNotShutDownCleanlyIsRefusedAndNothingChanges() {
        QFETCH(int, version);
        WindowHarness h(version);
        const QString live = h.folder(QStringLiteral("live"));
        const QString copy = h.folder(QStringLiteral("copy"));
        h.sql(QStringLiteral("CREATE DATABASE [Live] ON PRIMARY (FILENAME = %1) LOG ON (FILENAME = %2)")
                  .arg(literal(live + "/Live.mdf"), literal(live + "/Live_log.ldf")));
        // Copied while its database was online, as a file taken from a running server is.
        QVERIFY(QFile::copy(live + "/Live.mdf", copy + "/Live.mdf"));
        h.sql(QStringLiteral("DROP DATABASE [Live]"));
        const QByteArray before = fileBytes(copy + "/Live.mdf");
        const QStringList databasesBefore = h.databases();

        QVERIFY(h.connect());
        attachAlone(h, QStringLiteral("Copy"), copy + "/Live.mdf");
        QCOMPARE(h.script.last().type, DialogType::Error);
        QVERIFY2(
            h.script.last().text.endsWith(QStringLiteral("потрібен її оригінальний файл журналу (LDF).")),
            qPrintable(h.script.last().text));
        QCOMPARE(h.databases(), databasesBefore);
        QCOMPARE(fileBytes(copy + "/Live.mdf"), before);
        QCOMPARE(QDir(copy).entryList(QDir::Files), QStringList{QStringLiteral("Live.mdf")});
    }
};

QTEST_MAIN(AttachAlone)
#include "tst_attach_alone.moc"
