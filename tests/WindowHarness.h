// Runs the real main window against a private stand-in server, with every modal dialog answered
// by a script instead of a person.
#pragma once

#include "DevServer.h"
#include "DialogAnswers.h"
#include "FMain.h"
#include "Journal.h"
#include "ModalSeam.h"
#include "RusUkrDlg.h"
#include "SqlQuote.h"
#include "Startup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QMap>
#include <QTabWidget>
#include <QTest>
#include <iconv.h>
#include <memory>
#include <optional>

// FreeTDS opens a character-set conversion for each connection and closes it with the connection,
// and glibc unloads the conversion's module when the last one closes. LeakSanitizer then walks the
// thread-local storage slot the module left behind and crashes at exit (sanitized build). The
// conversions FreeTDS uses stay open for the test's life, as they do in the program, whose one
// connection lives as long as its window.
inline void keepCharsetModulesLoaded() {
    static const iconv_t kept[] = {iconv_open("UTF-16LE", "CP1252"), iconv_open("UTF-16LE", "ISO-8859-1")};
    (void)kept;
}

// What main() does before the window exists: Ukrainian dialog captions and the application title.
inline void prepareApplication() {
    keepCharsetModulesLoaded();
    InstallDialogCaptions();
    configureApplication(*qApp);
}

// Records every dialog shown and answers them in order; with nothing queued a dialog is cancelled
// (message dialogs answer 2, pickers choose nothing).
struct DialogScript {
    QList<modal::Request> seen;
    QList<modal::Answer> queue;

    QList<std::optional<Qt::Key>> keys; // beside queue: a key to press on the real dialog instead
    QStringList shown;                  // what each real dialog showed, as the eye reads it

    DialogScript() {
        modal::setResponder([this](const modal::Request& r) {
            seen << r;
            if (queue.isEmpty())
                return modal::Answer{};
            modal::Answer a = queue.takeFirst();
            if (const std::optional<Qt::Key> key = keys.isEmpty() ? std::nullopt : keys.takeFirst()) {
                msgdlg::MessageDialog dialog(r.text, r.type, r.buttons, nullptr, r.statements);
                shown << shownText(dialog);
                a.result = pressKey(dialog, *key);
            }
            return a;
        });
    }
    ~DialogScript() { modal::setResponder(nullptr); }

    void answer(int result) {
        modal::Answer a;
        a.result = result;
        queue << a;
    }
    // The next message dialog is shown for real and answered by pressing key on it.
    void press(Qt::Key key) {
        keys.resize(queue.size()); // keys line up with queue from its front
        keys << key;
        queue << modal::Answer{};
    }
    void choose(const QString& path) {
        modal::Answer a;
        a.path = path;
        queue << a;
    }
    void cancelPicker() { queue << modal::Answer{}; }
    QStringList texts() const {
        QStringList out;
        for (const auto& r : seen)
            out << r.text;
        return out;
    }
    const modal::Request& last() const { return seen.last(); }
    void clear() { seen.clear(); }
};

// A file's bytes, to show that an operation left it alone.
inline QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Writes a whole file (replacing one that is there); false when it cannot.
inline bool writeFile(const QString& path, const QByteArray& contents) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(contents) == contents.size();
}

// Every file below a folder with a digest of its contents, but for the stand-in's own bookkeeping
// (its catalog and statement log), which every statement may rewrite.
inline QMap<QString, QByteArray> snapshot(const QString& folder) {
    QMap<QString, QByteArray> files;
    QDirIterator it(folder, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        // The stand-in's own bookkeeping (its catalog, its logins and owners) is the server's, as
        // master's files are, and changes with every database that comes or goes.
        if (path.endsWith(QLatin1String(".log")) || path.endsWith(QLatin1String("catalog.txt")) ||
            path.endsWith(QLatin1String("principals.txt")))
            continue;
        files[path] = QCryptographicHash::hash(fileBytes(path), QCryptographicHash::Sha1);
    }
    return files;
}

// The two personalities most cases run against, as data rows of a column "version".
inline void addVersionRows() {
    QTest::addColumn<int>("version");
    for (int version : {2000, 2019})
        QTest::newRow(QByteArray::number(version).constData()) << version;
}

class WindowHarness {
public:
    explicit WindowHarness(int version = 2019, QStringList serverArguments = {})
        : server(version, std::move(serverArguments)) {
        // What operations leave is written to the test's own journal, never the user's.
        ops::setJournalForTests(server.dataDir() + QStringLiteral("/state"));
        window = std::make_unique<TMain>();
        window->show();
        pointAtServer();
    }
    ~WindowHarness() { window->close(); }

    template <typename T> T* widget(const char* name) const {
        return window->findChild<T*>(QString::fromLatin1(name));
    }
    QLineEdit* edit(const char* name) const { return widget<QLineEdit>(name); }
    QAbstractButton* button(const char* name) const { return widget<QAbstractButton>(name); }

    // The controls by what the user does with them, page by page.
    QLineEdit* serverName() const { return edit("ServerName"); }
    QComboBox* versionList() const { return widget<QComboBox>("cbSQLServers"); }
    QLineEdit* loginName() const { return edit("edUserName"); }
    QLineEdit* password() const { return edit("edUserPass"); }
    QAbstractButton* connectButton() const { return button("ToolButton1"); }
    QTabWidget* pages() const { return widget<QTabWidget>("PageControl1"); }
    QLineEdit* attachName() const { return edit("cbDatabase"); }
    QLineEdit* attachMdf() const { return edit("edPathMDF"); }
    QLineEdit* attachLdf() const { return edit("edPathLDF"); }
    QAbstractButton* pickMdfButton() const { return button("SpeedButton2"); }
    QAbstractButton* pickLdfButton() const { return button("SpeedButton3"); }
    QAbstractButton* attachButton() const { return button("BitBtn1"); }
    QAbstractButton* detachButton() const { return button("BitBtn2"); }
    QListView* databaseList() const { return widget<QListView>("ListDataBases"); }
    QAbstractButton* dropButton() const { return button("BitBtn4"); }
    QLineEdit* backupPath() const { return edit("edPathBAK"); }
    QAbstractButton* pickBackupButton() const { return button("SpeedButton5"); }
    QLineEdit* restoreName() const { return edit("Edit1"); }
    QLineEdit* restoreMdf() const { return edit("edPathMDF2"); }
    QLineEdit* restoreLdf() const { return edit("edPathLDF2"); }
    QAbstractButton* restoreFolderButton() const { return button("SpeedButton1"); }
    QAbstractButton* logFolderButton() const { return button("SpeedButton4"); }
    QAbstractButton* restoreButton() const { return button("BitBtn3"); }
    QComboBox* backupDatabase() const { return widget<QComboBox>("cbDataBase1"); }
    QLineEdit* backupTarget() const { return edit("edSavePathBAK"); }
    QAbstractButton* saveAsButton() const { return button("SpeedButton6"); }
    QAbstractButton* backupButton() const { return button("BitBtn5"); }

    void pointAtServer() { serverName()->setText(server.dataSource()); }

    // Presses the connect button and acknowledges the success message.
    bool connect() {
        script.answer(Reply::OK);
        connectButton()->click();
        return window->connection().isOpen();
    }
    // Types a server name and presses the connect button; nothing is answered for it.
    void connectTo(const QString& name) {
        serverName()->setText(name);
        connectButton()->click();
    }

    // Selects a page the way a user does: a click on its tab.
    void openPage(int index) {
        auto* tabs = pages();
        QTabBar* bar = tabs->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }

    // The names the detach page lists, in order.
    QStringList listed() const {
        const QAbstractItemModel* model = databaseList()->model();
        QStringList names;
        for (int row = 0; row < model->rowCount(); ++row)
            names.append(model->index(row, 0).data().toString());
        return names;
    }
    // Selects a listed name as a click does (the selection handler runs); false when not listed.
    bool selectListed(const QString& name) const {
        auto* view = databaseList();
        const int row = int(listed().indexOf(name));
        if (row < 0)
            return false;
        view->selectionModel()->setCurrentIndex(view->model()->index(row, 0),
                                                QItemSelectionModel::ClearAndSelect);
        return true;
    }
    // Detaches or drops a listed database through the databases page; false when not listed.
    bool detach(const QString& name) { return pressOnListed(name, detachButton()); }
    bool drop(const QString& name) { return pressOnListed(name, dropButton()); }
    bool anyListedSelected() const { return databaseList()->selectionModel()->hasSelection(); }

    // Both files of the restore into one folder, through the page's folder button.
    void chooseRestoreFolder(const QString& folder) {
        script.choose(folder);
        restoreFolderButton()->click();
    }

    // A folder below the scratch folder, made when missing.
    QString folder(const QString& name) const {
        const QString path = server.scratch() + QLatin1Char('/') + name;
        QDir().mkpath(path);
        return path;
    }

    // The pages as a user works them. Each presses the page's button once; the dialogs it brings
    // are answered from the script (queue the answers first).
    enum Page { ConnectPage = 0, DatabasesPage = 1, RestorePage = 2, BackupPage = 3 };

    // Chooses a backup on the restore page; the page reads its file list.
    void readFileList(const QString& bak) {
        openPage(RestorePage);
        script.choose(bak);
        pickBackupButton()->click();
    }
    // Backs a listed database up into target through the backup page.
    void backup(const QString& database, const QString& target) {
        openPage(BackupPage);
        backupDatabase()->setCurrentIndex(backupDatabase()->findText(database));
        backupTarget()->setText(target);
        backupButton()->click();
    }
    // The same with the target chosen in the page's save dialog, which enables the button; the
    // backup's message is acknowledged.
    void backupChosen(const QString& database, const QString& target) {
        openPage(BackupPage);
        backupDatabase()->setCurrentIndex(backupDatabase()->findText(database));
        script.choose(target);
        saveAsButton()->click();
        QVERIFY(backupButton()->isEnabled());
        script.answer(Reply::OK);
        backupButton()->click();
    }
    // Restores the backup whose file list was read as name, its two files where the page has them
    // or at mdf and ldf.
    void restoreAs(const QString& name) {
        openPage(RestorePage);
        restoreName()->setText(name);
        restoreButton()->click();
    }
    void restoreAs(const QString& name, const QString& mdf, const QString& ldf) {
        openPage(RestorePage); // before the paths: opening the page empties them
        restoreMdf()->setText(mdf);
        restoreLdf()->setText(ldf);
        restoreAs(name);
    }
    // Attaches a database from its files through the attach page.
    void attach(const QString& name, const QString& mdf, const QString& ldf) {
        openPage(ConnectPage);
        attachName()->setText(name);
        attachMdf()->setText(mdf);
        attachLdf()->setText(ldf);
        attachButton()->click();
    }

    // Selects a listed name on the databases page and presses button; false when not listed.
    bool pressOnListed(const QString& name, QAbstractButton* button) {
        openPage(DatabasesPage);
        if (!selectListed(name))
            return false;
        button->click();
        return true;
    }

    // Stand-in side: a database with its files at mdf and ldf, detached (shut down cleanly) when
    // detach is set, so that its files can be attached.
    bool makeDatabase(const QString& name, const QString& mdf, const QString& ldf, bool detach) const;
    // Stand-in side: a database with its files in the scratch folder, backed up into bak.
    bool makeBackup(const QString& name, const QString& bak) const;

    // Runs one batch on a connection of its own (the window's stays as it is).
    QString sql(const QString& batch) const { return server.tsql(batch); }
    QStringList databases() const;

    DevServer server;
    DialogScript script;
    std::unique_ptr<TMain> window;
};

inline QStringList WindowHarness::databases() const {
    AdoConnection c;
    c.setConnectionString(server.connectionString());
    AdoQuery q(c);
    q.setText(QStringLiteral("SELECT name FROM master.dbo.sysdatabases"));
    q.openRowset();
    QStringList names;
    for (; !q.atEnd(); q.next())
        names << q.firstColumn();
    return names;
}

inline bool WindowHarness::makeDatabase(const QString& name, const QString& mdf, const QString& ldf,
                                        bool detach) const {
    QDir().mkpath(QFileInfo(mdf).absolutePath());
    QDir().mkpath(QFileInfo(ldf).absolutePath());
    QString batch = QStringLiteral("CREATE DATABASE %1 ON PRIMARY (FILENAME = %2) LOG ON (FILENAME = %3)")
                        .arg(sqlquote::name(name), sqlquote::literal(mdf), sqlquote::literal(ldf));
    if (detach)
        batch += QStringLiteral("\nEXEC sp_detach_db %1, 'true'").arg(sqlquote::literal(name));
    sql(batch);
    return QFile::exists(mdf) && QFile::exists(ldf);
}

inline bool WindowHarness::makeBackup(const QString& name, const QString& bak) const {
    const QString base = server.scratch() + QLatin1Char('/') + name;
    if (!makeDatabase(name, base + QLatin1String(".mdf"), base + QLatin1String("_log.ldf"), false))
        return false;
    sql(QStringLiteral("BACKUP DATABASE %1 TO DISK = %2").arg(sqlquote::name(name), sqlquote::literal(bak)));
    return QFile::exists(bak);
}
