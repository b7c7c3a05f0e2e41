// Backups checked after they are written, and a damaged backup never replacing a database: through
// the real window against the stand-in, whose --damage-backups plays a failing disk.
#include "WindowHarness.h"

#include "ProgressDialog.h"

#include <QPushButton>
#include "SqlQuote.h"

#include <QDir>
#include <QFile>
#include <QtTest>

using sqlquote::literal;

namespace {
const char* const kChecked = "Копію перевірено: з неї можна відновити базу даних.";
const char* const kDamagedAdvice = "Файл резервної копії пошкоджений";

// The lines every progress dialog showed, in order.
struct ProgressLines {
    QStringList lines;
    ProgressLines() {
        modal::setProgressWatcher([this](ProgressDialog& d) {
            QObject::connect(&d, &ProgressDialog::lineChanged, [this](const QString& l) { lines << l; });
        });
    }
    ~ProgressLines() { modal::setProgressWatcher(nullptr); }
};

// The window as the user sets it for this server: the version chosen, connected.
bool connectAs(WindowHarness& h, int version) {
    h.versionList()->setCurrentText(QString::number(version));
    h.pointAtServer(); // choosing a version names its instance
    return h.connect();
}

// Flips one byte of a file in place.
void flipByte(const QString& path, qint64 at) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    char c = 0;
    QVERIFY(f.seek(at) && f.getChar(&c));
    QVERIFY(f.seek(at) && f.putChar(char(~c)));
}

QStringList damageArguments(int version) {
    return version == 2000 ? QStringList() : QStringList{QStringLiteral("--damage-backups")};
}

// Where the statement was sent whole (not as the start of a longer one); -1 when it was not.
qsizetype sentAt(const QString& received, const QString& statement) {
    const QRegularExpression whole(QRegularExpression::escape(statement) + QStringLiteral("(?![ ,\\w])"));
    const QRegularExpressionMatch m = whole.match(received);
    return m.hasMatch() ? m.capturedStart() : -1;
}

bool errorShownWith(const WindowHarness& h, const QString& part) {
    return h.script.last().type == DialogType::Error && h.script.last().text.contains(part);
}
} // namespace

class VerifiedBackups : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    void versions_data() {
        QTest::addColumn<int>("version");
        QTest::newRow("2000") << 2000;
        QTest::newRow("2019") << 2019;
    }

    void backupIsVerified_data() { versions_data(); }
    void backupIsVerified() {
        QFETCH(int, version);
        WindowHarness h(version);
        h.sql(QStringLiteral("CREATE DATABASE [Sales]"));
        QVERIFY(connectAs(h, version));
        const ProgressLines progress;
        const QString bak = h.server.scratch() + QStringLiteral("/s.bak");
        h.backupChosen(QStringLiteral("Sales"), bak);

        QCOMPARE(h.script.last().text, QStringLiteral("Створення резервної копії бази даних Sales успішно виконано.\n") +
                                           QString::fromUtf8(kChecked));
        // From 2005 the copy is also COPY_ONLY: the site's own differential backups keep their base.
        const QString checksum = version == 2000 ? QString() : QStringLiteral(", CHECKSUM");
        const QString received = h.server.receivedStatements();
        const qsizetype backup = sentAt(
            received,
            QStringLiteral(
                "Backup Database [Sales] to disk = %1 WITH INIT , NOUNLOAD , SKIP , STATS = 10, NOFORMAT%2")
                .arg(literal(bak), version == 2000 ? QString() : QStringLiteral(", CHECKSUM, COPY_ONLY")));
        const qsizetype verify =
            sentAt(received, QStringLiteral("RESTORE VERIFYONLY FROM DISK = %1 WITH FILE = 1%2").arg(literal(bak), checksum));
        QVERIFY2(backup >= 0 && verify > backup, qPrintable(received));
        if (version != 2000) {
            AdoConnection c;
            c.setConnectionString(h.server.connectionString());
            AdoQuery q(c);
            q.setText(QStringLiteral("RESTORE HEADERONLY FROM DISK = ") + literal(bak));
            q.openRowset();
            QCOMPARE(q.field(QStringLiteral("IsCopyOnly")), QStringLiteral("1"));
        }
        QCOMPARE(progress.lines, QStringList{QStringLiteral("Перевірка…")});
    }

    void damagedBackupIsAnError() {
        WindowHarness h(2019, {QStringLiteral("--damage-backups")});
        h.sql(QStringLiteral("CREATE DATABASE [Sales]"));
        QVERIFY(connectAs(h, 2019));
        h.script.clear();
        h.backupChosen(QStringLiteral("Sales"), h.server.scratch() + QStringLiteral("/s.bak"));
        QVERIFY2(errorShownWith(h, QStringLiteral("Damage to the backup set was detected")), qPrintable(h.script.last().text));
        QVERIFY(h.script.last().text.contains(QString::fromUtf8(kDamagedAdvice)));
        for (const QString& text : h.script.texts())
            QVERIFY(!text.contains(QStringLiteral("успішно")));
    }

    // Cancel while the copy is checked: the user is told the copy was made but not checked.
    void cancelDuringTheCheck() {
        WindowHarness h(2019, {QStringLiteral("--slow"), QStringLiteral("600")});
        h.sql(QStringLiteral("CREATE DATABASE [Sales]"));
        QVERIFY(connectAs(h, 2019));
        modal::setProgressWatcher([](ProgressDialog& d) {
            QObject::connect(&d, &ProgressDialog::lineChanged, &d, [&d] { d.cancelButton()->click(); });
        });
        h.script.clear();
        const QString bak = h.server.scratch() + QStringLiteral("/s.bak");
        h.backupChosen(QStringLiteral("Sales"), bak);
        modal::setProgressWatcher(nullptr);
        QCOMPARE(h.script.last().type, DialogType::Warning);
        QCOMPARE(h.script.last().text, QStringLiteral("Перевірку резервної копії бази даних Sales скасовано: копію у "
                                                      "файлі %1 створено, але не перевірено.")
                                           .arg(bak));
    }

    // The database the restore would replace must survive a damaged backup byte for byte. The
    // stand-in's failing disk changes a byte that only the backup's checksum finds (2019); 2000
    // writes no checksums, so there the set's header is damaged once its file list has been read.
    void damagedBackupNeverReplacesADatabase_data() { versions_data(); }
    void damagedBackupNeverReplacesADatabase() {
        QFETCH(int, version);
        WindowHarness h(version, damageArguments(version));
        const QString folder = h.folder(QStringLiteral("sales"));
        const QString bak = h.server.scratch() + QStringLiteral("/sales.bak");
        const QString checksum = version == 2000 ? QString() : QStringLiteral(", CHECKSUM");
        h.sql(QStringLiteral("CREATE DATABASE [Sales] ON PRIMARY (FILENAME = %1) LOG ON (FILENAME = %2)\n"
                             "BACKUP DATABASE [Sales] TO DISK = %3 WITH INIT%4")
                  .arg(literal(folder + "/Sales.mdf"), literal(folder + "/Sales_log.ldf"), literal(bak), checksum));
        const QByteArray mdf = fileBytes(folder + "/Sales.mdf");
        const QByteArray ldf = fileBytes(folder + "/Sales_log.ldf");
        QVERIFY(connectAs(h, version));
        h.openPage(WindowHarness::RestorePage);
        h.restoreName()->setText(QStringLiteral("Sales")); // over itself: its own files are proposed
        h.readFileList(bak);
        QCOMPARE(h.restoreMdf()->text(), folder + "/Sales.mdf");
        if (version == 2000)
            flipByte(bak, 40); // inside the set's header block
        h.script.clear();
        h.script.answer(Reply::Yes); // replacing Sales
        h.restoreAs(QStringLiteral("Sales"));

        QVERIFY2(errorShownWith(h, QStringLiteral("Базу даних Sales не змінено.")), qPrintable(h.script.texts().join('|')));
        QVERIFY(h.script.last().text.contains(version == 2000 ? QStringLiteral("incorrectly formed")
                                                              : QStringLiteral("Damage to the backup set was detected")));
        // 2000: the header read again right before the restore already finds the damage.
        const QString received = h.server.receivedStatements();
        if (version != 2000)
            QVERIFY2(sentAt(received, QStringLiteral("RESTORE VERIFYONLY FROM DISK = %1 WITH FILE = 1%2")
                                          .arg(literal(bak), checksum)) >= 0,
                     qPrintable(received));
        QVERIFY(!received.contains(QLatin1String("RESTORE DATABASE")));
        QCOMPARE(fileBytes(folder + "/Sales.mdf"), mdf);
        QCOMPARE(fileBytes(folder + "/Sales_log.ldf"), ldf);
        QVERIFY(!h.sql(QStringLiteral("USE [Sales]")).contains(QLatin1String("Msg ")));
    }

    // A sound backup replaces the database once checked; CHECKSUM is asked only of a set that has
    // checksums (the server refuses it for any other).
    void soundBackupReplacesAfterItsCheck_data() {
        QTest::addColumn<QString>("option");
        QTest::newRow("with checksums") << ", CHECKSUM";
        QTest::newRow("without checksums") << "";
    }
    void soundBackupReplacesAfterItsCheck() {
        QFETCH(QString, option);
        WindowHarness h;
        const QString bak = h.server.scratch() + QStringLiteral("/sales.bak");
        h.sql(QStringLiteral("CREATE DATABASE [Sales]\nBACKUP DATABASE [Sales] TO DISK = %1 WITH INIT%2")
                  .arg(literal(bak), option));
        QVERIFY(connectAs(h, 2019));
        h.readFileList(bak);
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        h.restoreAs(QStringLiteral("Sales"));
        QVERIFY2(h.script.last().text.startsWith(QStringLiteral("База даних Sales успішно відновлена")),
                 qPrintable(h.script.last().text));
        const QString received = h.server.receivedStatements();
        const qsizetype verify =
            sentAt(received, QStringLiteral("RESTORE VERIFYONLY FROM DISK = %1 WITH FILE = 1%2").arg(literal(bak), option));
        QVERIFY2(verify >= 0 && received.indexOf(QLatin1String("RESTORE DATABASE [Sales]")) > verify, qPrintable(received));
    }

    void damagedBackupUnderANewNameFailsCleanly() {
        WindowHarness h(2019, {QStringLiteral("--damage-backups")});
        const QString bak = h.server.scratch() + QStringLiteral("/sales.bak");
        h.sql(QStringLiteral("CREATE DATABASE [Sales]\nBACKUP DATABASE [Sales] TO DISK = %1 WITH INIT, CHECKSUM")
                  .arg(literal(bak)));
        QVERIFY(connectAs(h, 2019));
        h.readFileList(bak);
        h.chooseRestoreFolder(h.folder(QStringLiteral("copy")));
        h.script.clear();
        h.restoreAs(QStringLiteral("Copy"));
        // Nothing to replace, so nothing verified first: the restore itself finds the damage.
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("RESTORE VERIFYONLY")));
        QVERIFY2(errorShownWith(h, QStringLiteral("Damage to the backup set was detected")), qPrintable(h.script.last().text));
        QVERIFY(h.script.last().text.contains(QString::fromUtf8(kDamagedAdvice)));
        QCOMPARE(h.script.seen.size(), 1);
        QVERIFY(!h.sql(QStringLiteral("USE [Sales]")).contains(QLatin1String("Msg ")));
        // The half-restored database was the restore's own: removed with its files, and said so.
        QVERIFY(h.script.last().text.endsWith(QStringLiteral("Незавершену базу даних Copy видалено разом із "
                                                             "записаними файлами.")));
        QVERIFY(!h.databases().contains(QStringLiteral("Copy")));
        QVERIFY(QDir(h.folder(QStringLiteral("copy"))).isEmpty());
    }

    // A backup made by a newer server: the file list is refused (3169) and the advice names the
    // server that made it.
    void newerBackupIsExplained() {
        DevServer newer(2019);
        const QString bak = newer.scratch() + QStringLiteral("/newer.bak");
        newer.tsql(QStringLiteral("CREATE DATABASE [N]\nBACKUP DATABASE [N] TO DISK = %1 WITH INIT").arg(literal(bak)));
        WindowHarness h(2016);
        QVERIFY(connectAs(h, 2016));
        h.readFileList(bak);
        // Told from the header, before the server reads the whole file for its list.
        QCOMPARE(h.script.last().kind, modal::Kind::MessageDialog);
        QCOMPARE(h.script.last().type, DialogType::Error);
        QVERIFY2(h.script.last().text.contains(QStringLiteral("новішим сервером — SQL Server 2019 (15.00.2000)")),
                 qPrintable(h.script.last().text));
        QVERIFY(h.script.last().text.contains(QStringLiteral("а цей сервер — SQL Server 2016 (13.00.")));
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("FILELISTONLY")));
    }
};

QTEST_MAIN(VerifiedBackups)
#include "tst_verified_backups.moc"
