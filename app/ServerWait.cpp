// The worker thread of a wait, and the hand-over that lets the window stop watching it at any time.
#include "ServerWait.h"

#include "ControlsDisabled.h"
#include "ModalSeam.h"
#include "ProgressDialog.h"

#include <QEventLoop>
#include <QList>
#include <QTimer>

#include <mutex>
#include <thread>

namespace serverwait {

namespace {
// Shared by the window's thread and the worker. The worker tells the waiting loop that the job has
// ended only while the window still waits: the pointer is cleared, under the lock, before the loop
// goes, so nothing is ever posted to a loop that is gone.
struct Handover {
    std::mutex mutex;
    QEventLoop* waiter = nullptr;
    bool ended = false;
};

// A wait in progress, innermost last; each is on its own caller's stack. Window's thread only.
struct Current {
    QEventLoop* loop = nullptr;
    bool* gaveUp = nullptr;
};
QList<Current> g_waits;
bool g_forGood = false;

void giveUpOne(const Current& wait) {
    *wait.gaveUp = true;
    wait.loop->quit();
}
} // namespace

bool isWaiting() {
    return !g_waits.isEmpty();
}

void giveUp() {
    for (const Current& wait : g_waits)
        giveUpOne(wait);
}

void giveUpForGood() {
    g_forGood = true;
    giveUp();
}

bool givenUpForGood() {
    return g_forGood;
}

void reopen() {
    g_forGood = false;
}

bool run(QWidget* window, const QString& title, const QString& subject, std::function<void()> job,
         Announce announce) {
    if (g_forGood)
        return false;
    QEventLoop loop;
    bool gaveUp = false;
    auto handover = std::make_shared<Handover>();
    handover->waiter = &loop;

    ProgressDialog dialog(title, subject, window);
    const Current self{&loop, &gaveUp};
    QObject::connect(&dialog, &ProgressDialog::cancelRequested, &loop, [self] { giveUpOne(self); });
    {
        const ControlsDisabled disabled(window);
        g_waits.append(self);
        if (announce == Announce::Always)
            modal::progressOpened(dialog);
        QTimer showLater;
        showLater.setSingleShot(true);
        QObject::connect(&showLater, &QTimer::timeout, &dialog, [&dialog, announce] {
            if (announce == Announce::WhenShown)
                modal::progressOpened(dialog);
            dialog.open();
        });
        showLater.start(kShowAfterMs);

        // Detached: a job given up may end long after this wait (a login runs into its time-out).
        std::thread([handover, job = std::move(job)]() mutable {
            try {
                job();
            } catch (...) {
                // The job keeps its own outcome; nothing may leave the thread.
            }
            // What the job holds goes here, on the worker, when the window has stopped watching;
            // otherwise the window drops the last reference once it has read the outcome.
            job = nullptr;
            const std::lock_guard<std::mutex> lock(handover->mutex);
            handover->ended = true;
            if (handover->waiter)
                QMetaObject::invokeMethod(handover->waiter, &QEventLoop::quit, Qt::QueuedConnection);
        }).detach();
        loop.exec();
        g_waits.removeLast();
        dialog.hide();
    }
    const std::lock_guard<std::mutex> lock(handover->mutex);
    handover->waiter = nullptr;
    return handover->ended && !gaveUp;
}

} // namespace serverwait
