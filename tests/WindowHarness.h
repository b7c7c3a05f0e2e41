// Runs the real main window against a private stand-in server, with every modal dialog answered
// by a script instead of a person.
#pragma once

#include "DevServer.h"
#include "FMain.h"
#include "ModalSeam.h"
#include "RusUkrDlg.h"
#include "Startup.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListView>
#include <QTabWidget>
#include <QTest>
#include <memory>

// What main() does before the window exists: Ukrainian dialog captions and the application title.
inline void prepareApplication() {
    InstallDialogCaptions();
    configureApplication(*qApp);
}

// Records every dialog shown and answers them in order; with nothing queued a dialog is cancelled
// (message dialogs answer 2, pickers choose nothing).
struct DialogScript {
    QList<modal::Request> seen;
    QList<modal::Answer> queue;

    DialogScript() {
        modal::setResponder([this](const modal::Request& r) {
            seen << r;
            return queue.isEmpty() ? modal::Answer{} : queue.takeFirst();
        });
    }
    ~DialogScript() { modal::setResponder(nullptr); }

    void answer(int result) {
        modal::Answer a;
        a.result = result;
        queue << a;
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

// Writes a file for a test's setting; true when it was written.
inline bool writeTestFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

class WindowHarness {
public:
    explicit WindowHarness(int version = 2019, QStringList serverArguments = {})
        : server(version, std::move(serverArguments)) {
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

    void pointAtServer() { edit("ServerName")->setText(server.dataSource()); }

    // Presses the connect button and acknowledges the success message.
    bool connect() {
        script.answer(1);
        button("ToolButton1")->click();
        return window->connection().isOpen();
    }

    // Selects a page the way a user does: a click on its tab.
    void openPage(int index) {
        auto* tabs = widget<QTabWidget>("PageControl1");
        QTabBar* bar = tabs->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(index).center());
    }

    // The names the detach page lists, in order.
    QStringList listed() const {
        const QAbstractItemModel* model = widget<QListView>("ListDataBases")->model();
        QStringList names;
        for (int row = 0; row < model->rowCount(); ++row)
            names.append(model->index(row, 0).data().toString());
        return names;
    }
    // Selects a listed name as a click does (the selection handler runs); false when not listed.
    bool selectListed(const QString& name) const {
        auto* view = widget<QListView>("ListDataBases");
        const int row = int(listed().indexOf(name));
        if (row < 0)
            return false;
        view->selectionModel()->setCurrentIndex(view->model()->index(row, 0),
                                                QItemSelectionModel::ClearAndSelect);
        return true;
    }
    bool anyListedSelected() const {
        return widget<QListView>("ListDataBases")->selectionModel()->hasSelection();
    }

    // Reads a backup's file list through the restore page, as a user's choice of the file does.
    void readFileList(const QString& bak) {
        openPage(2);
        script.choose(bak);
        button("SpeedButton5")->click();
    }
    // Both files of the restore into one folder, through the page's folder button.
    void chooseRestoreFolder(const QString& folder) {
        script.choose(folder);
        button("SpeedButton1")->click();
    }

    // A folder below the scratch folder, made when missing.
    QString folder(const QString& name) const {
        const QString path = server.scratch() + QLatin1Char('/') + name;
        QDir().mkpath(path);
        return path;
    }

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
