// The wheel over a list without focus, as the X11 window system delivers it (xdotool on a virtual X
// server): Qt's own handling of a real wheel comes first, before the window sees it.
#include "WindowHarness.h"

#include <QProcess>
#include <QtTest>

namespace {
// Counts the wheel events that reach a widget, letting them through.
struct WheelCounter : QObject {
    int seen = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Wheel)
            ++seen;
        return false;
    }
};
} // namespace

class X11Wheel : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "runs on an X server only");
        prepareApplication();
    }

    void wheelWithoutFocusKeepsTheLists_data() {
        QTest::addColumn<QString>("list");
        QTest::newRow("version") << "cbSQLServers";
        QTest::newRow("database to back up") << "cbDataBase1";
    }
    void wheelWithoutFocusKeepsTheLists() {
        QFETCH(QString, list);
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE a\nCREATE DATABASE b"));
        QVERIFY(h.connect());
        h.openPage(3);
        QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
        h.window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(h.window.get()));
        auto* combo = h.widget<QComboBox>(qPrintable(list));
        combo->setCurrentIndex(0);
        h.backupTarget()->setFocus();
        const QString server = h.serverName()->text();
        WheelCounter counter;
        combo->installEventFilter(&counter);

        const QPoint at = combo->mapToGlobal(combo->rect().center());
        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"),
                                   {QStringLiteral("mousemove"), QString::number(at.x()), QString::number(at.y()),
                                    QStringLiteral("click"), QStringLiteral("5")}),
                 0);
        QTRY_VERIFY(counter.seen > 0);
        QCOMPARE(combo->currentIndex(), 0);
        QVERIFY(!combo->hasFocus());
        QCOMPARE(h.serverName()->text(), server);
        QVERIFY(h.window->connection().isOpen());
    }
};

QTEST_MAIN(X11Wheel)
#include "tst_x11_wheel.moc"
