// The database list page: listing, detach and delete with their confirmations, and what a failure
// leaves on screen and on disk.
#include "WindowHarness.h"

#include "DisconnectOthers.h"
#include "RusUkrDlg.h"
#include "SqlQuote.h"

#include <QApplication>
#include <QFile>
#include <QtTest>

class DatabaseListPage : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    void listsUserDatabasesInServerOrder() {
        WindowHarness h;
        QVERIFY(h.connect());
        h.openPage(1);
        QCOMPARE(h.listed().size(), 0); // only the system databases: emptied
        h.sql(QStringLiteral("CREATE DATABASE zeta\nCREATE DATABASE [Альфа]\nCREATE DATABASE [MSDB2]"));
        h.openPage(0);
        h.openPage(1);
        QCOMPARE(h.listed(), (QStringList{"zeta", "Альфа", "MSDB2"}));
        QVERIFY(!h.detachButton()->isEnabled());
        QVERIFY(!h.dropButton()->isEnabled());
        QVERIFY(h.selectListed(QStringLiteral("zeta")));
        QVERIFY(h.detachButton()->isEnabled());
        QVERIFY(h.dropButton()->isEnabled());
    }

    // Answered No, with Escape on the real dialog, or by its close box: nothing is detached or
    // dropped. The real dialog shows the name as it is: an "&" in it is no keyboard marker.
    void confirmationsGoAheadOnlyOnYes_data() {
        QTest::addColumn<int>("answer");
        QTest::addColumn<int>("key"); // pressed on the real dialog instead, when set
        QTest::newRow("No") << int(Reply::No) << 0;
        QTest::newRow("Escape") << 0 << int(Qt::Key_Escape);
        QTest::newRow("close box") << int(Reply::Cancel) << 0;
    }
    void confirmationsGoAheadOnlyOnYes() {
        QFETCH(int, answer);
        QFETCH(int, key);
        auto reply = [&](WindowHarness& h) {
            if (key)
                h.script.press(Qt::Key(key));
            else
                h.script.answer(answer);
        };
        const QString name = QStringLiteral("R&D keep");
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE [R&D keep]"));
        QVERIFY(h.connect());
        reply(h);
        QVERIFY(h.detach(name));
        QCOMPARE(h.script.last().text,
                 QStringLiteral("Ви впевнені, що хочете від'єднати базу даних R&D keep ?"));
        QCOMPARE(h.script.last().caption, QStringLiteral("Підтвердження"));
        QCOMPARE(h.script.last().buttons, (DialogButtons{DialogButton::Yes, DialogButton::No}));
        reply(h);
        QVERIFY(h.drop(name));
        QCOMPARE(h.script.last().text,
                 QStringLiteral("Ви впевнені, що бажаєте видалити базу даних R&D keep ?"));
        QVERIFY(h.databases().contains(name));
        if (key)
            QCOMPARE(h.script.shown, h.script.texts().mid(h.script.texts().size() - 2));
    }

    void detachAndDropAwkwardNames_data() {
        QTest::addColumn<QString>("name");
        for (const char* n : {"a b", "o'k", "x]y", "[br]", "Звіти 2024", "x; DROP DATABASE keep --"})
            QTest::newRow(n) << QString::fromUtf8(n);
    }
    void detachAndDropAwkwardNames() {
        QFETCH(QString, name);
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE keep"));
        h.sql(QStringLiteral("CREATE DATABASE ") + sqlquote::name(name));
        QVERIFY(h.databases().contains(name));
        const auto before = snapshot(h.server.dataDir());
        QVERIFY(h.connect());

        // Detach: the database leaves the list, its files stay.
        h.script.answer(Reply::Yes);
        QVERIFY(h.detach(name));
        QVERIFY(!h.databases().contains(name));
        QVERIFY(!h.listed().contains(name));
        QVERIFY(!h.anyListedSelected());
        QVERIFY(h.detachButton()->isEnabled()); // buttons keep their state after the refill
        QCOMPARE(snapshot(h.server.dataDir()).keys().filter(".mdf"), before.keys().filter(".mdf"));

        // Drop: attach it again first, then its files go and nothing else changes.
        const QString files = h.server.dataDir() + "/" + name;
        h.sql(
            QStringLiteral("CREATE DATABASE %1 ON PRIMARY (FILENAME = %2) LOG ON (FILENAME = %3) FOR ATTACH")
                .arg(sqlquote::name(name), sqlquote::literal(files + ".mdf"),
                     sqlquote::literal(files + "_log.ldf")));
        QVERIFY(h.databases().contains(name));
        h.openPage(0);
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        QVERIFY(h.drop(name));
        QCOMPARE(h.script.seen[h.script.seen.size() - 1].text,
                 QStringLiteral("База даних ") + name + QStringLiteral(" успішно видалена !"));
        QVERIFY(!h.databases().contains(name));
        QVERIFY(h.databases().contains(QStringLiteral("keep")));
        const auto after = snapshot(h.server.dataDir());
        for (auto it = before.begin(); it != before.end(); ++it) {
            if (QFileInfo(it.key()).completeBaseName().startsWith(name))
                QVERIFY2(!after.contains(it.key()), qPrintable(it.key()));
            else if (it.key().endsWith(".mdf") || it.key().endsWith(".ldf"))
                QCOMPARE(after.value(it.key()), it.value());
        }
    }

    void failuresShowWhatTheyShould() {
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE busy\nCREATE DATABASE gone"));
        QVERIFY(h.connect());
        h.openPage(1);
        h.sql(QStringLiteral("DROP DATABASE gone"));
        // A failed delete: the system message box, then the refresh.
        h.script.clear();
        h.script.answer(Reply::Yes);
        QVERIFY(h.drop(QStringLiteral("gone")));
        QCOMPARE(h.script.seen.size(), 2);
        QCOMPARE(h.script.last().kind, modal::Kind::SystemMessageBox);
        QCOMPARE(h.script.last().caption, QStringLiteral("Zelvaro"));
        QCOMPARE(
            h.script.last().text.section(QLatin1Char('\n'), 0, 0),
            QStringLiteral(
                "Cannot drop the database 'gone', because it does not exist or you do not have permission"));
        QCOMPARE(h.listed(), QStringList{"busy"});

        // A failed detach: the plain error box, and the list is not refreshed.
        h.sql(QStringLiteral("CREATE DATABASE later"));
        h.sql(QStringLiteral("DROP DATABASE busy"));
        h.script.clear();
        h.script.answer(Reply::Yes);
        QVERIFY(h.detach(QStringLiteral("busy")));
        QCOMPARE(h.script.last().kind, modal::Kind::ErrorBox);
        QVERIFY(h.script.last().text.startsWith(QLatin1String("The database 'busy' does not exist.")));
        QCOMPARE(h.listed(), QStringList{"busy"});
    }

    void unreachableServerReportsTwiceAndKeepsTheList() {
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE one"));
        QVERIFY(h.connect());
        h.openPage(1);
        QVERIFY(h.selectListed(QStringLiteral("one")));
        h.window->Disconnect();
        h.server.stop();
        h.script.clear();
        h.script.answer(Reply::Yes);
        h.dropButton()->click();
        QCOMPARE(h.script.seen.size(), 3); // the question, then the connection error twice
        QCOMPARE(h.script.seen[1].buttons, DialogButtons{DialogButton::Cancel});
        QCOMPARE(h.script.seen[2].buttons, DialogButtons{DialogButton::Cancel});
        QCOMPARE(h.listed(), QStringList{"one"});
    }

    // A database an earlier run put in single-user mode and could not open again (the journal says
    // so): the next connect to that server asks about it; Yes opens it, and it is not asked again.
    // One another run opened meanwhile asks nothing.
    void theNextConnectOffersToOpenWhatWasLeftSingleUser() {
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE [Склад]\nCREATE DATABASE opened"));
        h.sql(QStringLiteral("ALTER DATABASE [Склад] SET SINGLE_USER WITH ROLLBACK IMMEDIATE"));
        for (const char* name : {"Склад", "opened"}) {
            ops::JournalEntry left;
            left.server = h.serverName()->text();
            left.database = QString::fromUtf8(name);
            QVERIFY(ops::journal().write(left));
        }
        h.script.clear();
        h.script.answer(Reply::OK);
        h.script.answer(Reply::Yes);
        h.connectButton()->click();
        QCOMPARE(h.script.seen.size(), 2);
        QVERIFY2(h.script.last().text.startsWith(
                     QStringLiteral(
                         "База даних Склад на сервері %1 досі в однокористувацькому режимі (SINGLE_USER)")
                         .arg(h.serverName()->text())),
                 qPrintable(h.script.last().text));
        QCOMPARE(h.script.last().statements, QStringLiteral("ALTER DATABASE [Склад] SET MULTI_USER"));
        QVERIFY(h.sql(QStringLiteral("SELECT user_access_desc FROM sys.databases WHERE name = N'Склад'"))
                    .contains(QLatin1String("MULTI_USER")));
        QVERIFY(ops::journal().entries().isEmpty());
        h.window->Disconnect();
        h.script.clear();
        QVERIFY(h.connect());
        QCOMPARE(h.script.seen.size(), 1); // the success message alone
    }

    // The guard the restore and the attach put the others out with: a MULTI_USER the server never
    // gets (it went away) is told, naming the statement that opens the database, and the journal
    // keeps the setting for the next connect.
    void aPutBackTheServerNeverGotIsToldAndKept() {
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE [Склад]"));
        QVERIFY(h.connect());
        h.script.clear();
        h.script.answer(Reply::OK);
        {
            DisconnectOthers alone(h.window->query(), h.serverName()->text(), QStringLiteral("Склад"));
            alone.disconnect();
            QCOMPARE(ops::journal().entries().size(), 1);
            h.server.stop();
        }
        QCOMPARE(h.script.seen.size(), 1);
        QVERIFY2(h.script.last().text.contains(
                     QStringLiteral("сервер не виконав ALTER DATABASE [Склад] SET MULTI_USER")),
                 qPrintable(h.script.last().text));
        QCOMPARE(ops::journal().entries().size(), 1);
    }
};

QTEST_MAIN(DatabaseListPage)
#include "tst_databases.moc"
