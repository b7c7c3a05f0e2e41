// Telling operating-system error 5 in a server's error text from look-alikes, in every wording
// the server versions and languages use, and which file the server refused.
#include "AccessDenied.h"

#include <QtTest>

using accessdenied::RefusedFile;
Q_DECLARE_METATYPE(RefusedFile)

class AccessDeniedMatch : public QObject {
    Q_OBJECT
private slots:
    void refusedFile_data() {
        QTest::addColumn<QString>("message");
        QTest::addColumn<RefusedFile>("refused");
        // The two wordings of SQL Server's English texts, for a path, a code and its text.
        auto unable = [](const QString& path, int code, const QString& text) {
            return QStringLiteral("Unable to open the physical file \"%1\". Operating system error %2: \"%2(%3)\"")
                .arg(path)
                .arg(code)
                .arg(text);
        };
        auto createFile = [](const QString& path, int code, const QString& text) {
            return QStringLiteral("CREATE FILE encountered operating system error %2(%3) while attempting to "
                                  "open or create the physical file '%1'")
                .arg(path)
                .arg(code)
                .arg(text);
        };
        const QString mdf = QStringLiteral("/srv/db/VTR.mdf"), ldf = QStringLiteral("/srv/db/VTR_log.ldf");
        const QString denied = QStringLiteral("Access is denied.");
        const QString notFound = QStringLiteral("The system cannot find the file specified.");
        QTest::newRow("attach, data file") << unable(mdf, 5, denied) << RefusedFile::Data;
        QTest::newRow("attach, log file") << unable(ldf, 5, denied) << RefusedFile::Log;
        QTest::newRow("create file, log") << createFile(ldf, 5, denied) << RefusedFile::Log;
        QTest::newRow("create file, data") << createFile(mdf, 5, denied) << RefusedFile::Data;
        QTest::newRow("2005-era text") << unable(mdf, 5, "error not found") << RefusedFile::Data;
        QTest::newRow("no text for the code")
            << unable(mdf, 5, "failed to retrieve text for this error. Reason: 15100") << RefusedFile::Data;
        QTest::newRow("German") << QStringLiteral("Die physische Datei \"/srv/db/VTR_log.ldf\" kann nicht "
                                                  "geöffnet werden. Betriebssystemfehler 5: "
                                                  "\"5(Zugriff verweigert)\"")
                                << RefusedFile::Log;
        QTest::newRow("Russian")
            << QStringLiteral(
                   "Не удается открыть физический файл \"/srv/db/VTR.mdf\". Ошибка операционной системы 5: "
                   "\"5(Отказано в доступе.)\"")
            << RefusedFile::Data;
        QTest::newRow("Japanese")
            << QStringLiteral(
                   "物理ファイル \"/srv/db/VTR.mdf\" を開けません。オペレーティング システム エラー 5: "
                   "\"5(アクセスが拒否されました。)\"")
            << RefusedFile::Data;
        QTest::newRow("unknown file named") << createFile("C:\\other.mdf", 5, denied) << RefusedFile::Data;

        QTest::newRow("longer code")
            << unable(mdf, 665, "The requested operation could not be completed due to a file system limitation")
            << RefusedFile::None;
        QTest::newRow("code 15") << createFile(mdf, 15, "The system cannot find the drive specified.")
                                 << RefusedFile::None;
        QTest::newRow("5 in a folder name") << unable("/srv/copy5(1)/x.mdf", 2, notFound) << RefusedFile::None;
        QTest::newRow("folder named 5(1)")
            << QStringLiteral("Directory lookup for the file \"/srv/5(1)/x.mdf\" failed with the operating "
                              "system error 2(%1)")
                   .arg(notFound)
            << RefusedFile::None;
        QTest::newRow("file named 5(1)")
            << createFile("5(1).mdf", 3, "The system cannot find the path specified.") << RefusedFile::None;
        QTest::newRow("2000 activation error")
            << QStringLiteral(
                   "Device activation error. The physical file name '/srv/db/VTR.mdf' may be incorrect")
            << RefusedFile::None;
        QTest::newRow("digits before the code") << QStringLiteral("Error 25(x)") << RefusedFile::None;
    }
    void refusedFile() {
        QFETCH(QString, message);
        QFETCH(RefusedFile, refused);
        QCOMPARE(accessdenied::refusedFile(message, QStringLiteral("/srv/db/VTR.mdf"),
                                           QStringLiteral("/srv/db/VTR_log.ldf")),
                 refused);
    }

    // The paths the statement named are never read as the code, even where they hold "5(".
    void pathsHoldingTheShape() {
        const QString mdf = QStringLiteral("/srv/x 5(2)/d.mdf");
        const QString ldf = QStringLiteral("'5(3).ldf");
        QCOMPARE(accessdenied::refusedFile(QStringLiteral("Unable to open the physical file \"") + mdf +
                                               QStringLiteral("\". Operating system error 2: \"2(The system "
                                                              "cannot find the file specified.)\""),
                                           mdf, ldf),
                 RefusedFile::None);
        QCOMPARE(accessdenied::refusedFile(QStringLiteral("CREATE FILE encountered operating system error "
                                                          "5(Access is denied.) while attempting to open or "
                                                          "create the physical file '") +
                                               ldf + QLatin1Char('\''),
                                           mdf, ldf),
                 RefusedFile::Log);
    }

    // The advice lines read the codes by the same rule: every code in order, none from a
    // single-quoted path, none that is part of a longer number.
    void everyCodeOfTheShape() {
        QCOMPARE(accessdenied::osErrorCodes(QStringLiteral(
                     "Read on '/b/copy5(1)/x.bak' failed: 665(The requested operation could not be completed "
                     "due to a file system limitation) then error 5: \"5(Access is denied.)\"")),
                 (QList<int>{665, 5}));
        QCOMPARE(accessdenied::osErrorCodes(QStringLiteral("Device error or device off-line")), QList<int>());
    }
};

QTEST_APPLESS_MAIN(AccessDeniedMatch)
#include "tst_access_denied.moc"
