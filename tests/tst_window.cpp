// Start-up, the connection panel and page switching, driven as a user drives them.
#include "WindowHarness.h"

#include "ConnectionSettings.h"
#include "Journal.h"
#include "RusUkrDlg.h"

#include <QApplication>
#include <QScreen>
#include <QTabBar>
#include <QWheelEvent>
#include <QtTest>
#include <algorithm>

class WindowFlows : public QObject {
    Q_OBJECT

    static bool activate(WindowHarness& h) {
        h.window->activateWindow();
        return QTest::qWaitForWindowActive(h.window.get());
    }
    // The name of the control holding the focus; the page control's tab row by the control's name.
    static QString focused() {
        QWidget* w = QApplication::focusWidget();
        if (!w)
            return QStringLiteral("(none)");
        if (qobject_cast<QTabBar*>(w))
            return w->parentWidget()->objectName();
        return w->objectName();
    }
    // Focuses `start`, presses Tab (or Shift+Tab) `presses` times on whatever has the focus, and
    // lists where the focus went.
    static QStringList tabCycle(QWidget* start, int presses, bool backwards = false) {
        start->setFocus(Qt::TabFocusReason);
        QStringList names;
        for (int i = 0; i < presses; ++i) {
            QTest::keyClick(QApplication::focusWidget(), backwards ? Qt::Key_Backtab : Qt::Key_Tab,
                            backwards ? Qt::ShiftModifier : Qt::NoModifier);
            names << focused();
        }
        return names;
    }
    // One wheel notch per unit, negative down, over the middle of the widget.
    static void wheel(QWidget* target, int notches) {
        const QPointF at = QRectF(target->rect()).center();
        QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    }

private slots:
    void initTestCase() { prepareApplication(); }

    void startUpShowsOnlyTheLeftPanel() {
        DialogScript script;
        TMain window;
        window.show();
        QCOMPARE(window.windowTitle(), QStringLiteral("Zelvaro " CONFIGURED_VERSION));
        QCOMPARE(window.size(), QSize(852, 419));
        QVERIFY(!window.findChild<QWidget*>("PageControl1")->isVisible());
        QCOMPARE(window.statusImage(), 2);
        QCOMPARE(window.findChild<QAbstractButton*>("ToolButton1")->toolTip(), QString());
        QCOMPARE(window.findChild<QComboBox*>("cbSQLServers")->currentText(), QStringLiteral("2000"));
        const auto* versions = window.findChild<QComboBox*>("cbSQLServers");
        QCOMPARE(versions->itemText(versions->count() - 3), QStringLiteral("2019"));
        QCOMPARE(versions->itemText(versions->count() - 1), QStringLiteral("2025"));
        QCOMPARE(window.findChild<QLineEdit*>("ServerName")->text(), connection::computerName());
        for (const char* name : {"BitBtn1", "BitBtn2", "BitBtn3"})
            QVERIFY2(!window.findChild<QWidget*>(name)->isEnabled(), name);
        for (const char* name : {"SpeedButton1", "SpeedButton2", "SpeedButton3", "SpeedButton4",
                                 "SpeedButton5", "SpeedButton6", "BitBtn4", "BitBtn5"})
            QVERIFY2(window.findChild<QWidget*>(name)->isEnabled(), name);
        QCOMPARE(window.findChild<QTabWidget*>("PageControl1")->currentIndex(), 0);
        QVERIFY(script.seen.isEmpty());
    }

    // The images are drawn at build time and read back without the format being guessed: a
    // missing or unreadable file would leave a button blank without any error.
    void everyButtonShowsItsImage() {
        TMain window;
        for (const char* name :
             {"ToolButton1", "SpeedButton1", "SpeedButton2", "SpeedButton3", "SpeedButton4", "SpeedButton5",
              "SpeedButton6", "BitBtn1", "BitBtn2", "BitBtn3", "BitBtn4", "BitBtn5"}) {
            auto* button = window.findChild<QAbstractButton*>(name);
            const QPixmap pixmap = button->icon().pixmap(button->iconSize(), window.devicePixelRatio());
            const QImage image = pixmap.toImage();
            QVERIFY2(!image.isNull(), name);
            // On a high-density screen (the test runs once more scaled) the sharper copy is drawn.
            QCOMPARE(image.size(), button->iconSize() * window.devicePixelRatio());
            // Something is drawn: a blank image is all transparent.
            const QImage alpha = image.convertToFormat(QImage::Format_Alpha8);
            const auto* bits = alpha.constBits();
            QVERIFY2(std::any_of(bits, bits + alpha.sizeInBytes(), [](uchar a) { return a > 0; }), name);
        }
    }

    // The left panel's button, reached by the keyboard, lists what is open for the server's account
    // now, each with the command that takes it back.
    void theLeftPanelSaysWhatIsOpenForTheServer() {
        WindowHarness h;
        QAbstractButton* place = h.button("WhatIsOpen");
        QVERIFY(place && place->isVisible() && (place->focusPolicy() & Qt::TabFocus));
        const QString copy = h.server.dataDir() + QStringLiteral("/Облік.mdf");
        for (const bool left : {false, true}) {
            if (left) {
                QVERIFY(writeFile(copy, "copy"));
                ops::JournalEntry entry;
                entry.kind = ops::JournalEntry::Kind::Copy;
                entry.path = copy;
                QVERIFY(ops::journal().write(entry));
            }
            h.script.answer(Reply::OK);
            place->setFocus();
            QTest::keyClick(place, Qt::Key_Space);
            QCOMPARE(h.script.last().type, DialogType::Information);
            QCOMPARE(h.script.last().text,
                     left ? QStringLiteral("Що Zelvaro відкрив або залишив для облікового запису сервера:\n"
                                           "• копія %1\n   Забрати: rm -- '%1'")
                                .arg(copy)
                          : QStringLiteral("Zelvaro зараз нічого не відкрив і не залишив для облікового "
                                           "запису сервера."));
        }
    }

    void connectShowsThePages() {
        WindowHarness h;
        QVERIFY(h.connect());
        QCOMPARE(h.script.seen.size(), 1);
        QCOMPARE(h.script.last().text, QStringLiteral("Підключення успішно виконано !"));
        QCOMPARE(h.script.last().caption, QStringLiteral("Інформація"));
        QCOMPARE(h.script.last().buttons, DialogButtons{DialogButton::OK});
        QCOMPARE(h.window->statusImage(), 0);
        QVERIFY(h.pages()->isVisible());
        QCOMPARE(h.connectButton()->toolTip(), QStringLiteral("Відключитися"));
        for (QAbstractButton* button : {h.pickMdfButton(), h.pickLdfButton(), h.attachButton()})
            QVERIFY2(button->isEnabled(), qPrintable(button->objectName()));

        // Pressing it again disconnects without a word.
        h.script.clear();
        h.connectButton()->click();
        QVERIFY(h.script.seen.isEmpty());
        QVERIFY(!h.window->connection().isOpen());
        QCOMPARE(h.window->statusImage(), 2);
        QVERIFY(!h.pages()->isVisible());
        QCOMPARE(h.connectButton()->toolTip(), QStringLiteral("Підключитися"));
        QVERIFY(!h.attachButton()->isEnabled());
    }

    void wrongPasswordShowsTheServersTextWithCancel() {
        WindowHarness h;
        h.password()->setText(QStringLiteral("wrong"));
        h.connectButton()->click();
        QCOMPARE(h.script.seen.size(), 1);
        QCOMPARE(h.script.last().text.section(QLatin1Char('\n'), 0, 0),
                 QStringLiteral("Login failed for user 'sa'"));
        QCOMPARE(h.script.last().caption, QStringLiteral("Помилка"));
        QCOMPARE(h.script.last().buttons, DialogButtons{DialogButton::Cancel});
        QCOMPARE(h.window->statusImage(), 1);
        QVERIFY(!h.pages()->isVisible());
        QCOMPARE(h.connectButton()->toolTip(), QStringLiteral("Підключитися"));
    }

    // Any change of the settings closes the connection. A server name the user typed stays
    // whatever else changes; one the program derived follows the version.
    void settingChangeClosesTheConnection() {
        WindowHarness h;
        QVERIFY(h.connect());
        const QString typed = h.serverName()->text();
        QTest::keyClicks(h.loginName(), QStringLiteral("x"));
        QVERIFY(!h.window->connection().isOpen());
        QCOMPARE(h.window->statusImage(), 2);
        QVERIFY(h.pages()->isVisible());
        QCOMPARE(h.connectButton()->toolTip(), QStringLiteral("Відключитися"));
        QVERIFY(!h.attachButton()->isEnabled());
        QTest::keyClicks(h.password(), QStringLiteral("y"));
        h.versionList()->setCurrentText(QStringLiteral("2014"));
        QCOMPARE(h.serverName()->text(), typed);

        h.serverName()->setText(connection::computerName());
        QTest::keyClicks(h.password(), QStringLiteral("z"));
        QCOMPARE(h.serverName()->text(), connection::computerName() + QStringLiteral("\\SQL2014"));
        h.versionList()->setCurrentText(QStringLiteral("2019"));
        QCOMPARE(h.serverName()->text(), connection::computerName() + QStringLiteral("\\SQL2019"));
        h.serverName()->clear();
        h.versionList()->setCurrentText(QStringLiteral("2000"));
        QCOMPARE(h.serverName()->text(), connection::computerName());
    }

    // As README tells a new user: the server's name typed, then the password, then Enter: the
    // connection goes to the server typed.
    void typedServerThenPasswordThenEnter() {
        WindowHarness h;
        h.serverName()->clear();
        QTest::keyClicks(h.serverName(), h.server.dataSource());
        h.password()->clear();
        QTest::keyClicks(h.password(), QStringLiteral("pvtmo"));
        QCOMPARE(h.serverName()->text(), h.server.dataSource());
        h.script.answer(Reply::OK);
        QTest::keyClick(h.password(), Qt::Key_Return);
        QVERIFY(h.window->connection().isOpen());
    }

    // The window keeps its fixed place where the screen has room for it, and is moved onto the
    // screen where not. (Runs once more on a 1280-pixel screen beside another, which would cut
    // 160 pixels off, and on a large one, where it stays.)
    void windowKeepsItsPlaceWhereItFits() {
        TMain window;
        window.show();
        const QRect at = window.frameGeometry();
        const QRect fixed(QPoint(584, 254), at.size());
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        if (area.contains(fixed)) {
            QCOMPARE(at.topLeft(), fixed.topLeft());
            return;
        }
        QVERIFY2(at.left() >= area.left() && at.top() >= area.top(),
                 qPrintable(QStringLiteral("%1,%2").arg(at.left()).arg(at.top())));
        QVERIFY(at.right() <= area.right() || at.left() == area.left());
        QVERIFY(at.bottom() <= area.bottom() || at.top() == area.top());
        // Moved no further than it takes.
        QVERIFY(at.right() == area.right() || at.left() == fixed.left() || at.left() == area.left());
        QVERIFY(at.bottom() == area.bottom() || at.top() == fixed.top() || at.top() == area.top());
    }

    // The backup button: a path already in the field counts once a database is chosen.
    void backupButtonWhenTheDatabaseComesAfterThePath() {
        WindowHarness h;
        h.sql(QStringLiteral("CREATE DATABASE [Sales]"));
        QVERIFY(h.connect());
        h.openPage(WindowHarness::BackupPage);
        h.backupTarget()->setText(h.server.scratch() + QStringLiteral("/s.bak"));
        h.openPage(WindowHarness::DatabasesPage);
        h.openPage(WindowHarness::BackupPage); // the page's rule: no database chosen, button off
        QCOMPARE(h.backupTarget()->text(), h.server.scratch() + QStringLiteral("/s.bak"));
        QVERIFY(!h.backupButton()->isEnabled());
        h.backupDatabase()->setCurrentIndex(h.backupDatabase()->findText(QStringLiteral("Sales")));
        QVERIFY(h.backupButton()->isEnabled());
        // Not for a path whose folder is not there.
        h.openPage(WindowHarness::DatabasesPage);
        h.backupTarget()->setText(h.server.scratch() + QStringLiteral("/нема/s.bak"));
        h.openPage(WindowHarness::BackupPage);
        h.backupDatabase()->setCurrentIndex(h.backupDatabase()->findText(QStringLiteral("Sales")));
        QVERIFY(!h.backupButton()->isEnabled());
    }

    // A silent connection shows nothing on success but still sets the green image.
    void silentConnectionSetsTheImage() {
        WindowHarness h;
        QVERIFY(h.window->ConnectToServer(false));
        QVERIFY(h.script.seen.isEmpty());
        QCOMPARE(h.window->statusImage(), 0);
    }

    void pageRulesRunWhenTheUserSwitches() {
        WindowHarness h;
        QVERIFY(h.connect());
        h.sql(QStringLiteral("CREATE DATABASE [Листи]"));
        h.openPage(1);
        QCOMPARE(h.listed().size(), 1);
        h.backupPath()->setText(QStringLiteral("/typed.bak"));
        // Keyboard: Ctrl+Tab inside the page control moves to the next page and runs its rule.
        QTest::keyClick(h.pages(), Qt::Key_Tab, Qt::ControlModifier);
        QCOMPARE(h.pages()->currentIndex(), 2);
        QCOMPARE(h.backupPath()->text(), QString());
        h.openPage(3);
        QCOMPARE(h.backupDatabase()->count(), 1);
        QCOMPARE(h.backupDatabase()->currentIndex(), -1);
        QVERIFY(!h.backupButton()->isEnabled());
    }

    // The Tab key walks the controls in the order a user expects: the page control first (its
    // tab row, then the open page's controls), then the left panel, and round again.
    void tabOrderOfThePanelAlone() {
        WindowHarness h;
        QVERIFY(activate(h));
        QCOMPARE(tabCycle(h.versionList(), 6), QStringList({"ServerName", "edUserName", "edUserPass", "ToolButton1",
                                                            "WhatIsOpen", "cbSQLServers"}));
    }
    void tabOrderOfEveryPage_data() {
        QTest::addColumn<int>("page");
        QTest::addColumn<QStringList>("stops");
        QTest::newRow("attach") << 0 << QStringList({"edPathMDF", "edPathLDF", "BitBtn1", "cbDatabase"});
        QTest::newRow("detach") << 1 << QStringList({"ListDataBases", "BitBtn2", "BitBtn4", "BitBtn6"});
        QTest::newRow("restore") << 2
                                 << QStringList(
                                        {"Edit1", "edPathMDF2", "edPathLDF2", "edPathBAK", "BitBtn3"});
        QTest::newRow("backup") << 3 << QStringList({"edSavePathBAK", "cbDataBase1", "BitBtn5"});
    }
    void tabOrderOfEveryPage() {
        QFETCH(int, page);
        QFETCH(QStringList, stops);
        WindowHarness h;
        QVERIFY(h.connect());
        QVERIFY(activate(h));
        h.openPage(page);
        // Buttons a page's rule leaves disabled take no focus; here every stop is open to it.
        for (const char* name : {"BitBtn1", "BitBtn2", "BitBtn3", "BitBtn4", "BitBtn5", "BitBtn6"})
            h.button(name)->setEnabled(true);
        const QStringList panel = {"cbSQLServers", "ServerName", "edUserName", "edUserPass", "ToolButton1",
                                   "WhatIsOpen"};
        const QStringList cycle = stops + panel + QStringList{"PageControl1"};
        QCOMPARE(tabCycle(h.pages()->tabBar(), int(cycle.size())), cycle);
        // Shift+Tab walks the same way back.
        QStringList back = cycle;
        std::reverse(back.begin(), back.end());
        back.removeFirst();
        back << QStringLiteral("PageControl1");
        QCOMPARE(tabCycle(h.pages()->tabBar(), int(back.size()), true), back);
    }

    // Pages change by click or keyboard only: the wheel over the tab row would wipe the restore
    // page's fields by running its rule.
    void wheelOverTheTabRowKeepsThePage() {
        WindowHarness h;
        QVERIFY(h.connect());
        h.openPage(2);
        h.backupPath()->setText(QStringLiteral("/typed.bak"));
        QTabBar* bar = h.pages()->tabBar();
        for (int notches : {-1, 1, 1})
            wheel(bar, notches);
        QCOMPARE(h.pages()->currentIndex(), 2);
        QCOMPARE(h.backupPath()->text(), QStringLiteral("/typed.bak"));
    }

    // A list changes by wheel only when it has the focus: a scroll passing over the version list
    // must not disconnect and overwrite the server name.
    void wheelChangesAListOnlyWithFocus() {
        WindowHarness h;
        QVERIFY(h.connect());
        QVERIFY(activate(h));
        h.sql(QStringLiteral("CREATE DATABASE a\nCREATE DATABASE b"));
        h.openPage(3);
        auto* databases = h.backupDatabase();
        databases->setCurrentIndex(0);
        h.backupTarget()->setFocus();
        wheel(databases, -1);
        QCOMPARE(databases->currentIndex(), 0);
        databases->setFocus();
        wheel(databases, -1);
        QCOMPARE(databases->currentIndex(), 1);

        auto* versions = h.versionList();
        const QString server = h.serverName()->text();
        h.loginName()->setFocus();
        wheel(versions, -1);
        QCOMPARE(versions->currentText(), QStringLiteral("2000"));
        QCOMPARE(h.serverName()->text(), server);
        QVERIFY(h.window->connection().isOpen());
        versions->setFocus();
        wheel(versions, -1);
        QCOMPARE(versions->currentText(), QStringLiteral("2005"));
    }

    void namedInstanceThroughTheBrowser() {
        WindowHarness h(2005, {QStringLiteral("--browser-port"), QStringLiteral("1434"),
                               QStringLiteral("--instance"), QStringLiteral("SQL2019=2019")});
        h.versionList()->setCurrentText(QStringLiteral("2019"));
        h.serverName()->setText(QStringLiteral("127.0.0.1\\SQL2019"));
        QVERIFY(h.connect());
        AdoQuery& q = h.window->query();
        q.setText(QStringLiteral("SELECT @@VERSION"));
        q.openRowset();
        QVERIFY(q.firstColumn().startsWith(QLatin1String("Microsoft SQL Server 2019")));
    }
};

QTEST_MAIN(WindowFlows)
#include "tst_window.moc"
