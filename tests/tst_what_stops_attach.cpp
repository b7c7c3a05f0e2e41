// Attach, detach and drop told what would stop them before anything is sent: other sessions inside
// the database, files of another server's version, the room and the edition's cap, files the server
// cannot read where they lie. Each case: told first, No changes nothing, Yes does what it says.
#include "WindowHarness.h"

#include "ProgressDialog.h"

#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

// A second client inside the database, as another program of the user's would be.
struct Holder {
    AdoConnection c;
    Holder(const DevServer& server, const QString& database) {
        c.setConnectionString(server.connectionString());
        c.open();
        c.setDefaultDatabase(database);
    }
};

QString userAccess(const WindowHarness& h, const QString& name) {
    return h.sql(QStringLiteral("SELECT user_access_desc FROM sys.databases WHERE name = %1").arg(sqlquote::literal(name)));
}

} // namespace

class WhatStopsAttach : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    // Somebody else inside the database: the one question names them; No sends nothing and leaves
    // them in; Yes puts them out and detaches or drops it.
    void othersInsideAreNamedAndPutOutOnYes_data() {
        QTest::addColumn<bool>("drop");
        QTest::newRow("detach") << false;
        QTest::newRow("drop") << true;
    }
    void othersInsideAreNamedAndPutOutOnYes() {
        QFETCH(bool, drop);
        WindowHarness h(2019);
        const QString folder = h.folder(QStringLiteral("db"));
        QVERIFY(h.makeDatabase(QStringLiteral("Склад"), folder + "/s.mdf", folder + "/s_log.ldf", false));
        Holder holder(h.server, QStringLiteral("Склад"));
        QVERIFY(h.connect());
        const auto press = [&] { return drop ? h.drop(QStringLiteral("Склад")) : h.detach(QStringLiteral("Склад")); };

        h.script.clear();
        h.script.answer(Reply::No);
        QVERIFY(press());
        QCOMPARE(h.script.seen.size(), 1);
        const QString asked = h.script.last().text;
        QVERIFY2(asked.contains(QStringLiteral("Базою даних Склад зараз користуються інші з'єднання (1):\n• sa (")),
                 qPrintable(asked));
        QVERIFY2(asked.contains(drop ? QStringLiteral("Видалити базу даних Склад") : QStringLiteral("Від'єднати базу даних Склад")),
                 qPrintable(asked));
        QVERIFY(h.databases().contains(QStringLiteral("Склад")));
        QVERIFY(!holder.c.closedByServerWithin(200));
        QVERIFY(!h.server.receivedStatements().contains(QLatin1String("SINGLE_USER")));

        h.script.clear();
        h.script.answer(Reply::Yes);
        h.script.answer(Reply::OK);
        QVERIFY(press());
        QVERIFY2(!h.databases().contains(QStringLiteral("Склад")), qPrintable(h.script.texts().join('\n')));
        QVERIFY(holder.c.closedByServerWithin(1000));
        QCOMPARE(QFile::exists(folder + "/s.mdf"), !drop); // a detach leaves the files
    }

    // The drop stopped after the others were put out: the database is there for everyone again.
    void aCancelledDropLetsEveryoneInAgain() {
        WindowHarness h(2019, {QStringLiteral("--slow-changes"), QStringLiteral("1500")});
        h.sql(QStringLiteral("CREATE DATABASE Old"));
        Holder holder(h.server, QStringLiteral("Old"));
        QVERIFY(h.connect());
        modal::setProgressWatcher([](ProgressDialog& d) {
            QTimer::singleShot(400, &d, [&d] { d.cancelButton()->click(); });
        });
        h.script.clear();
        h.script.answer(Reply::Yes);
        QVERIFY(h.drop(QStringLiteral("Old")));
        modal::setProgressWatcher(nullptr);
        QVERIFY2(h.script.texts().join('\n').contains(QStringLiteral("скасовано")), qPrintable(h.script.texts().join('\n')));
        QVERIFY(h.server.receivedStatements().contains(QLatin1String("SET SINGLE_USER WITH ROLLBACK IMMEDIATE")));
        QVERIFY(h.databases().contains(QStringLiteral("Old")));
        QVERIFY2(userAccess(h, QStringLiteral("Old")).contains(QLatin1String("MULTI_USER")),
                 qPrintable(userAccess(h, QStringLiteral("Old"))));
    }
};

QTEST_MAIN(WhatStopsAttach)
#include "tst_what_stops_attach.moc"
