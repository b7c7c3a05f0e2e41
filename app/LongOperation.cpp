// The worker thread, the disabled window and the progress dialog of one long statement.
#include "LongOperation.h"

#include "AdoQuery.h"
#include "ControlsDisabled.h"
#include "ModalSeam.h"
#include "ProgressDialog.h"
#include "StatementWatch.h"

#include <QEventLoop>
#include <QPointer>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QWidget>

namespace longop {

namespace {
// Statements quicker than this finish without the dialog flashing up.
const int kDialogDelayMs = 300;

struct Running {
    StatementWatch* watch = nullptr;
    QPointer<QWidget> closeAfter; // set when a close was confirmed during the operation
};
Running g_running;
QPointer<QWidget> g_closePending;

// What the worker hands back: never an exception across the thread. The error goes whole, with
// the server's message numbers that explain it.
struct Outcome {
    bool failed = false;
    DbError error{QString()};
    bool inFollowUp = false; // the operation's statement succeeded and the follow-up had started
    bool followUpSkipped = false;
};

// Whether the statement's error is the cancel's own (the driver's "Operation canceled", the server's
// "aborted" and "terminating abnormally", a link lost meanwhile) rather than the server refusing
// the statement, which the user must see whatever Cancel did. The server's informational messages
// that come with it (SQLSTATE class 01) say nothing either way.
bool endedByCancel(const DbError& error) {
    constexpr int kAborted = 3204, kTerminating = 3013;
    for (const DbError::Record& r : error.records())
        if (r.native > 0 && r.native != kAborted && r.native != kTerminating &&
            !r.state.startsWith(QLatin1String("08")) && !r.state.startsWith(QLatin1String("01")))
            return false;
    return true;
}

// Whether the statement ended because the link to the server went (SQLSTATE class 08): then the
// server may have done the statement all the same, and only it can say.
bool linkLost(const DbError& error) {
    for (const DbError::Record& r : error.records())
        if (r.state.startsWith(QLatin1String("08")))
            return true;
    return false;
}

Operation named(Mode mode, const QString& title, const QString& subject) {
    Operation o;
    o.mode = mode;
    o.title = title;
    o.subject = subject;
    return o;
}

Left askServer(const Operation& operation) {
    if (!operation.ask)
        return Left::NotDone;
    try {
        return operation.ask();
    } catch (const DbError&) {
        return Left::Unknown;
    }
}
} // namespace

Operation backup(const QString& database, const QString& file) {
    const QString cancelled =
        QStringLiteral("Створення резервної копії бази даних ") + database + QStringLiteral(" скасовано. ");
    Operation o = named(Mode::Execute, QStringLiteral("Створення резервної копії бази даних"),
                        QStringLiteral("База даних: ") + database);
    o.notDone = cancelled + QStringLiteral("Повної резервної копії у файлі ") + file +
                QStringLiteral(" немає: не відновлюйте базу даних із нього.");
    o.unknown = cancelled + QStringLiteral("Файл ") + file +
                QStringLiteral(" може бути неповним: не відновлюйте базу даних із нього.");
    return o;
}

Operation restore(const QString& database) {
    const QString cancelled =
        QStringLiteral("Відновлення бази даних ") + database + QStringLiteral(" скасовано. ");
    Operation o = named(Mode::Execute, QStringLiteral("Відновлення бази даних"),
                        QStringLiteral("База даних: ") + database);
    o.notDone = cancelled + QStringLiteral("База даних не відновлена.");
    const QString unusable = QStringLiteral(" (RESTORING): користуватися нею не можна, доки її не буде "
                                            "відновлено повністю або видалено.");
    o.restoring = cancelled + QStringLiteral("База даних залишилася в стані відновлення") + unusable;
    o.unknown = cancelled +
                QStringLiteral("Сервер не відповів, чи завершилося відновлення: база даних може "
                               "залишитися в стані відновлення") +
                unusable;
    return o;
}

// Attach and drop: after a cancel the database is there or not, or the server could not say.
static Operation databaseChange(const QString& title, const QString& database, const QString& participle) {
    const QString cancelled = title + QLatin1Char(' ') + database + QStringLiteral(" скасовано. ");
    Operation o = named(Mode::Execute, title, QStringLiteral("База даних: ") + database);
    o.notDone = cancelled + QStringLiteral("База даних не ") + participle + QLatin1Char('.');
    o.unknown = cancelled + QStringLiteral("Сервер не відповів, чи ") + participle +
                QStringLiteral(" база даних: перегляньте список баз даних.");
    return o;
}

Operation attach(const QString& database) {
    return databaseChange(QStringLiteral("Приєднання бази даних"), database, QStringLiteral("приєднана"));
}

Operation drop(const QString& database) {
    return databaseChange(QStringLiteral("Видалення бази даних"), database, QStringLiteral("видалена"));
}

Operation fileList(const QString& backupFile) {
    Operation o = named(Mode::OpenRowset, QStringLiteral("Читання списку файлів резервної копії"),
                        QStringLiteral("Файл: ") + backupFile);
    o.notDone = o.unknown =
        QStringLiteral("Читання списку файлів резервної копії ") + backupFile + QStringLiteral(" скасовано.");
    return o;
}

bool isRunning() {
    return g_running.watch != nullptr;
}

OwnWork::OwnWork(StatementWatch& watch) {
    Q_ASSERT(!isRunning());
    g_running = {&watch, nullptr};
}

OwnWork::~OwnWork() {
    g_closePending = g_running.closeAfter;
    g_running = {};
}

void askToCancelForClose(QWidget* window) {
    if (!isRunning() || g_running.closeAfter)
        return;
    if (!modal::confirm(QStringLiteral("Операція ще виконується. Скасувати її та закрити вікно?")))
        return;
    // The question ran a loop of its own: the operation may have ended meanwhile.
    if (!isRunning()) {
        g_closePending = window;
        return;
    }
    g_running.closeAfter = window;
    g_running.watch->cancel();
}

void closeOnceHandlerEnds(QWidget* window) {
    g_closePending = window;
}

void closeIfAsked() {
    if (isRunning() || !g_closePending)
        return;
    QPointer<QWidget> window = g_closePending;
    g_closePending = nullptr;
    // After the handler has returned to the event loop, so nothing of it runs on a closed window.
    QTimer::singleShot(0, window, [window] {
        if (window)
            window->close();
    });
}

void run(QWidget* window, AdoQuery& query, const Operation& operation) {
    run(window, query, operation, FollowUp{});
}

void run(QWidget* window, AdoQuery& query, const Operation& operation, const FollowUp& followUp) {
    Q_ASSERT(!isRunning());
    ProgressDialog dialog(operation.title, operation.subject, window);
    // Called on the worker for each message. The text is handed to the window's thread and read
    // there; the dialog outlives the worker (joined below), and what is still queued for it when
    // it goes is dropped with it.
    ProgressDialog* const target = &dialog;
    StatementWatch watch([target](int number, const QString& message) {
        QMetaObject::invokeMethod(
            target,
            [target, number, message] {
                const int percent = percentOf(number, message);
                if (percent >= 0)
                    target->setPercent(percent);
            },
            Qt::QueuedConnection);
    });
    QObject::connect(&dialog, &ProgressDialog::cancelRequested, &dialog, [&watch] { watch.cancel(); });

    Outcome outcome;
    {
        const ControlsDisabled disabled(window);
        g_running = {&watch, nullptr};
        query.setWatch(&watch);
        modal::progressOpened(dialog);

        QThread* worker = QThread::create([&query, &outcome, &watch, &followUp, target, mode = operation.mode] {
            try {
                if (mode == Mode::OpenRowset)
                    query.openRowset();
                else
                    query.execute();
                if (!followUp.statement.isEmpty()) {
                    outcome.inFollowUp = true;
                    // A cancel that came too late for the first statement stops the follow-up before it starts.
                    if (watch.cancelRequested()) {
                        outcome.followUpSkipped = true;
                        return;
                    }
                    QMetaObject::invokeMethod(
                        target, [target, line = followUp.line] { target->setLine(line); },
                        Qt::QueuedConnection);
                    query.close();
                    query.setText(followUp.statement);
                    query.execute();
                }
            } catch (const DbError& e) {
                outcome.failed = true;
                outcome.error = e;
            } catch (const std::exception& e) {
                outcome.failed = true;
                outcome.error = DbError(QString::fromLocal8Bit(e.what()));
            } catch (...) {
                outcome.failed = true;
                outcome.error = DbError(QStringLiteral("Unknown error"));
            }
        });
        QEventLoop loop;
        QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
        QTimer showLater;
        showLater.setSingleShot(true);
        QObject::connect(&showLater, &QTimer::timeout, &dialog, [&dialog] { dialog.open(); });
        showLater.start(kDialogDelayMs);
        worker->start();
        loop.exec();
        worker->wait();
        delete worker;

        query.setWatch(nullptr);
        dialog.hide();
    }
    const bool cancelled =
        watch.cancelRequested() && (outcome.failed || watch.cancelDelivered() || outcome.followUpSkipped);
    g_closePending = g_running.closeAfter;
    g_running = {};

    // The operation's own statement had succeeded when the follow-up (the check of a backup) was
    // cancelled or failed: the user is told that, never the success message. A follow-up skipped
    // for a cancel is no such case: the statement's end said nothing certain, the server is asked.
    if (outcome.inFollowUp && !outcome.followUpSkipped) {
        if (cancelled)
            throw OperationCancelled{followUp.cancelled};
        if (outcome.failed)
            throw FollowUpFailed(outcome.error);
        return;
    }
    // A link lost while the statement ran is asked about as a cancel is: done after all returns as
    // a success does; anything else is the statement's failure, and the caller tells what it left.
    if (!watch.cancelRequested() && !outcome.inFollowUp && outcome.failed && linkLost(outcome.error)) {
        if (askServer(operation) != Left::Done)
            throw outcome.error;
        if (!followUp.statement.isEmpty())
            throw OperationCancelled{followUp.notRun};
        return;
    }
    // Any cancel the user asked for sends the server asking, even one the driver reports no trace
    // of: a cancel that came between two driver calls may have cut the statement while the driver
    // threw its messages away, so "no error" alone does not say the operation was done.
    if (!watch.cancelRequested() || (outcome.failed && !endedByCancel(outcome.error))) {
        if (outcome.failed)
            throw outcome.error;
        return;
    }
    switch (askServer(operation)) {
    case Left::Done:
        // Done, but whatever was to follow never ran: the caller's success message would claim it.
        if (!followUp.statement.isEmpty())
            throw OperationCancelled{followUp.notRun};
        return;
    case Left::NotDone:
        throw OperationCancelled{operation.notDone};
    case Left::Restoring:
        throw OperationCancelled{operation.restoring};
    case Left::Unknown:
        break;
    }
    throw OperationCancelled{operation.unknown};
}

} // namespace longop
