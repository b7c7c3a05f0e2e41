// A newcomer's first hour through the real window: the open dialogs offer only files of their own
// kind, every word is Ukrainian on a system of another language, Enter presses the focused button,
// the home folder stays untouched, and closing the window during an operation asks first.
#include "WindowHarness.h"

#include "ErrorAdvice.h"
#include "LongOperation.h"
#include "ProgressDialog.h"
#include "SqlQuote.h"

#include <QDirIterator>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <xcb/xcb.h>

namespace {

void touch(const QString& path, qint64 size = 0) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(size, 'z'));
}

// The texts a file dialog shows, read once its folder has been listed: its labels and buttons, then
// the name, size, type and date columns of the row for fileName. Closes the dialog when read.
struct FileDialogReader {
    QStringList texts;
    QTimer poll;
    int tries = 0;
    explicit FileDialogReader(const QString& fileName) {
        QObject::connect(&poll, &QTimer::timeout, [this, fileName] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            auto* view = dialog ? dialog->findChild<QTreeView*>(QStringLiteral("treeView")) : nullptr;
            if (!view)
                return;
            const QAbstractItemModel* model = view->model();
            for (int row = 0; row < model->rowCount(view->rootIndex()); ++row) {
                if (model->index(row, 0, view->rootIndex()).data().toString() != fileName)
                    continue;
                for (QLabel* l : dialog->findChildren<QLabel*>())
                    texts << l->text();
                for (QPushButton* b : dialog->findChildren<QPushButton*>())
                    texts << b->text();
                for (int column = 0; column < 4; ++column)
                    texts << model->index(row, column, view->rootIndex()).data().toString();
            }
            if (!texts.isEmpty() || ++tries > 200)
                dialog->reject();
        });
        poll.start(25);
    }
};

// Sends what a window manager sends when the user clicks a window's close box: WM_DELETE_WINDOW.
void askWindowManagerToClose(QWidget* window) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    auto atom = [c](const char* name) {
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        free(reply);
        return a;
    };
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = xcb_window_t(window->winId());
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, event.window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    // A round trip before hanging up: a busy X server drops the requests of a client that has
    // closed its connection before they were read, and the close request with them.
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
}

} // namespace

class FirstHour : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { prepareApplication(); }

    // Each open dialog starts in its own field's folder with nothing selected of another kind; each
    // kind keeps its own filter entry.
    void openDialogsOfferTheirOwnKind() {
        WindowHarness h;
        const QString a = h.folder(QStringLiteral("a")), b = h.folder(QStringLiteral("b"));
        for (const QString& f : {a + "/VTR.mdf", a + "/VTR_log.ldf", a + "/VTR.bak", b + "/other.ldf"})
            touch(f);
        QVERIFY(h.connect());
        modal::Answer mdf;
        mdf.path = a + "/VTR.mdf";
        mdf.filterIndex = 2; // "Всі файли"
        h.script.queue << mdf;
        h.pickMdfButton()->click();
        QCOMPARE(h.attachLdf()->text(), a + "/VTR_log.ldf");

        struct Case {
            QString ldfField;
            QString directory;
            QString selected;
        };
        for (const Case& c : {Case{a + "/VTR_log.ldf", a, a + "/VTR_log.ldf"}, Case{QString(), a, QString()},
                              Case{a + "/VTR.mdf", a, QString()}, Case{b + "/other.ldf", b, b + "/other.ldf"},
                              Case{b + "/gone.ldf", b, QString()}}) {
            h.attachLdf()->setText(c.ldfField);
            h.pickLdfButton()->click();
            QCOMPARE(h.script.last().directory, c.directory);
            QCOMPARE(h.script.last().selectedFile, c.selected);
            QCOMPARE(h.script.last().filterIndex, 1);
        }
        h.openPage(2);
        h.pickBackupButton()->click();
        QCOMPARE(h.script.last().defaultExtension, QStringLiteral("*.bak"));
        QCOMPARE(h.script.last().directory, a);
        QCOMPARE(h.script.last().selectedFile, QString());
        QCOMPARE(h.script.last().filterIndex, 1);
        h.openPage(0);
        h.pickMdfButton()->click();
        QCOMPARE(h.script.last().selectedFile, a + "/VTR.mdf");
        QCOMPARE(h.script.last().filterIndex, 2);
    }

    // Under LC_ALL=C.UTF-8 Qt's file dialog still speaks Ukrainian: its words, the file's type, its
    // size and its date.
    void fileDialogSpeaksUkrainian() {
        QCOMPARE(QLocale::system().name(), QStringLiteral("C"));
        const QTemporaryDir folder;
        const QString note = folder.path() + "/note.txt";
        touch(note, 5000);
        QFile f(note);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime(QDate(2026, 12, 7), QTime(9, 5)), QFileDevice::FileModificationTime));
        f.close();
        modal::Request r;
        r.kind = modal::Kind::OpenFile;
        r.caption = QStringLiteral("Вибір бази даних");
        r.directory = folder.path();
        r.filter = QStringLiteral("Файли бази даних (*.MDF)|*.mdf|Всі файли (*.*)|*.*");
        r.filterIndex = 2;
        FileDialogReader reader(QStringLiteral("note.txt"));
        QVERIFY(!modal::pickFile(r).path);
        const QString all = reader.texts.join(QLatin1String(" | "));
        for (const char* expected : {"Тип файлів:", "&Відкрити", "Скасувати", "note.txt", "4,88 кБ",
                                     "звичайний текстовий документ", "07.12.26 09:05"})
            QVERIFY2(reader.texts.contains(QString::fromUtf8(expected)), qPrintable(expected + (" in " + all)));
    }

    // Nothing lands in the home folder: the file dialogs' history lives only as long as the program.
    void homeFolderStaysUntouched() {
        modal::Request r;
        r.kind = modal::Kind::OpenFile;
        r.directory = QDir::tempPath();
        QTimer::singleShot(0, [] {
            if (QWidget* dialog = QApplication::activeModalWidget())
                dialog->close();
        });
        modal::pickFile(r);
        QStringList written;
        for (QDirIterator it(QDir::homePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
             it.hasNext();) {
            const QString path = it.next();
            if (!path.contains(QLatin1String("/.cache/fontconfig/")))
                written << path;
        }
        QVERIFY2(written.isEmpty(), qPrintable(written.join(' ')));
    }

    // Enter on a focused button presses it, as Space does; in the password field it connects.
    void enterPressesTheFocusedButton_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("page");
        QTest::addColumn<int>("key");
        QTest::newRow("connect, Return") << "ToolButton1" << -1 << int(Qt::Key_Return);
        QTest::newRow("connect, keypad Enter") << "ToolButton1" << -1 << int(Qt::Key_Enter);
        QTest::newRow("password field") << "edUserPass" << -1 << int(Qt::Key_Return);
        QTest::newRow("attach") << "BitBtn1" << 0 << int(Qt::Key_Return);
        QTest::newRow("detach") << "BitBtn2" << 1 << int(Qt::Key_Return);
        QTest::newRow("restore") << "BitBtn3" << 2 << int(Qt::Key_Return);
        QTest::newRow("delete") << "BitBtn4" << 1 << int(Qt::Key_Enter);
        QTest::newRow("backup") << "BitBtn5" << 3 << int(Qt::Key_Return);
    }
    void enterPressesTheFocusedButton() {
        QFETCH(QString, button);
        QFETCH(int, page);
        QFETCH(int, key);
        WindowHarness h;
        QApplication::setActiveWindow(h.window.get());
        if (page >= 0) {
            QVERIFY(h.connect());
            h.openPage(page);
        }
        auto* target = h.widget<QWidget>(button.toLatin1());
        target->setEnabled(true);
        target->setFocus();
        h.script.clear();
        auto* asButton = qobject_cast<QAbstractButton*>(target);
        QSignalSpy clicked(asButton ? asButton : h.connectButton(), &QAbstractButton::clicked);
        if (page < 0)
            h.script.answer(Reply::OK);
        QTest::keyClick(target, Qt::Key(key));
        QCOMPARE(clicked.count(), 1);
        if (page < 0)
            QVERIFY(h.window->connection().isOpen());
    }

    // Enter anywhere else starts nothing: no dialog, no statement.
    void enterInAFieldStartsNothing() {
        WindowHarness h;
        QApplication::setActiveWindow(h.window.get());
        QVERIFY(h.connect());
        const QString before = h.server.receivedStatements();
        h.script.clear();
        for (const char* field : {"ServerName", "edUserName"}) {
            h.edit(field)->setFocus();
            QTest::keyClick(h.edit(field), Qt::Key_Return);
        }
        QCOMPARE(h.server.receivedStatements(), before);
        const QList<QPair<int, QStringList>> pages = {
            {0, {"cbDatabase", "edPathMDF", "edPathLDF"}},
            {2, {"Edit1", "edPathBAK", "edPathMDF2", "edPathLDF2"}},
            {3, {"edSavePathBAK"}}};
        for (const auto& [page, fields] : pages) {
            h.openPage(page);
            const QString pageStatements = h.server.receivedStatements();
            for (const QString& field : fields) {
                QLineEdit* edit = h.edit(field.toLatin1());
                edit->setText(h.server.scratch() + "/x");
                edit->setFocus();
                QTest::keyClick(edit, Qt::Key_Return);
                QTest::keyClick(edit, Qt::Key_Enter);
            }
            QCOMPARE(h.server.receivedStatements(), pageStatements);
        }
        QVERIFY2(h.script.seen.isEmpty(), qPrintable(h.script.texts().join('|')));
        QVERIFY(h.window->connection().isOpen());
    }

    // The errors a newcomer meets first get their Ukrainian line.
    void newcomersErrorsGetTheirLine_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("serverText");
        QTest::addColumn<QString>("advice");
        QTest::newRow("restore onto another database's file")
            << "restoreOntoTaken" << "The file '" << "належить іншій базі даних";
        QTest::newRow("backup with no database chosen") << "backupNone" << "An object or column name"
                                                        << "Не вибрано базу даних";
        QTest::newRow("attach under an empty name") << "attachUnnamed" << "An object or column name"
                                                    << "Не вибрано базу даних";
    }
    void newcomersErrorsGetTheirLine() {
        QFETCH(QString, action);
        QFETCH(QString, serverText);
        QFETCH(QString, advice);
        WindowHarness h;
        const QString s = h.server.scratch();
        h.sql(QStringLiteral("CREATE DATABASE T1 ON PRIMARY (FILENAME = %1) LOG ON (FILENAME = %2)\n"
                             "BACKUP DATABASE T1 TO DISK = %3")
                  .arg(sqlquote::literal(s + "/t1.mdf"), sqlquote::literal(s + "/t1.ldf"),
                       sqlquote::literal(s + "/t1.bak")));
        QVERIFY(h.connect());
        if (action == QLatin1String("restoreOntoTaken")) {
            h.sql(QStringLiteral("CREATE DATABASE T2 ON PRIMARY (FILENAME = %1) LOG ON (FILENAME = %2)")
                      .arg(sqlquote::literal(s + "/t2.mdf"), sqlquote::literal(s + "/t2.ldf")));
            h.readFileList(s + "/t1.bak");
            h.script.answer(Reply::Yes); // yes, overwrite the file of somebody else's: the server refuses
            h.window->RestoreDatabase(QStringLiteral("T3"), s + "/t1.bak", s + "/t2.mdf", s + "/t3.ldf");
        } else if (action == QLatin1String("backupNone")) {
            h.openPage(3);
            h.backupTarget()->setText(s + "/none.bak");
            h.backupButton()->click();
        } else {
            h.window->AttachDatabase(QString(), s + "/t1.mdf", s + "/t1.ldf");
        }
        const QStringList lines = h.script.last().text.split(QLatin1Char('\n'));
        QVERIFY2(lines.size() == 2 && lines[0].startsWith(serverText) && lines[1].contains(advice),
                 qPrintable(h.script.texts().join(QLatin1String(" | "))));
    }

    void restoreOverAFileNobodyHoldsGetsItsLine() {
        const QString line = erroradvice::line(
            DbError(QStringLiteral("File \"m2\" cannot be restored over the existing \"/d/x.ndf\"."),
                    {{QStringLiteral("42000"), 3142}, {QStringLiteral("42000"), 3013}}));
        QVERIFY2(line.contains(QStringLiteral("уже є файл")), qPrintable(line));
    }

    // A close request from the window system while the progress dialog is up asks the question a
    // close asks at any time during an operation. On an X server only (see CMakeLists.txt).
    void closeRequestDuringAnOperationAsks() {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("needs an X server");
        WindowHarness h(2019, {QStringLiteral("--throughput"), QStringLiteral("1")});
        // Files of 1 MB, not the model's 8 MB each: the backup takes seconds, not a quarter minute.
        h.sql(QStringLiteral("CREATE DATABASE Big ON PRIMARY (FILENAME = N'%1/Big.mdf', SIZE = 1MB) LOG ON "
                             "(FILENAME = N'%1/Big_log.ldf', SIZE = 1MB)")
                  .arg(h.server.dataDir()));
        QFile data(h.server.dataDir() + "/Big.mdf");
        QVERIFY(data.open(QIODevice::Append));
        data.write(QByteArray(2 << 20, 'z'));
        data.close();
        QVERIFY(h.connect());
        QVERIFY(QTest::qWaitForWindowExposed(h.window.get()));
        h.openPage(3);
        auto* combo = h.backupDatabase();
        combo->setCurrentIndex(combo->findText(QStringLiteral("Big")));
        h.backupTarget()->setText(h.server.scratch() + "/big.bak");
        QTimer poll;
        bool sent = false;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* dialog = h.window->findChild<ProgressDialog*>();
            if (sent || !dialog || !dialog->isVisible())
                return;
            sent = true;
            h.script.answer(Reply::No); // keep it running
            askWindowManagerToClose(h.window.get());
        });
        poll.start(20);
        h.script.clear();
        h.backupButton()->click();
        QVERIFY(sent);
        QVERIFY(!h.script.seen.isEmpty());
        QCOMPARE(h.script.seen.first().text, QStringLiteral("Операція ще виконується. Скасувати її та закрити вікно?"));
        QVERIFY(h.window->isVisible());
    }
};

int main(int argc, char** argv) {
    // A home folder of the test's own, set before Qt reads where the user's settings go.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("XDG_CONFIG_HOME");
    QApplication app(argc, argv);
    FirstHour test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_first_hour.moc"
