// One explored session: a fresh world, the real window in it, the model of what the user asked,
// every dialog answered as the current step says; runs steps and checks them.
#pragma once

#include "Invariants.h"
#include "Model.h"
#include "Step.h"
#include "World.h"

#include "FMain.h"

#include <QElapsedTimer>
#include <QSet>
#include <QTimer>
#include <memory>

namespace explore {

struct Counts {
    int attach = 0, detach = 0, remove = 0, restore = 0, backup = 0, cancel = 0, restart = 0, settings = 0,
        world = 0;
};

// The longest gap of the event loop during the user's part of a step: a timer on the window's
// thread ticks every 10 ms, and any longer gap is time the window could not repaint or take a key.
struct StallWatch {
    QTimer timer;
    QElapsedTimer clock;
    qint64 last = -1; // -1 between steps
    qint64 longestInStep = 0;
    void start();
    void beginStep();
    qint64 endStep();
};

// A step the window stalled in for longer than the stall invariant allows.
struct Stall {
    int step = 0;
    qint64 ms = 0;
    QString what;
};

class Session {
public:
    Session(int version, QSet<int> invariants, Variant variant = Variant::Plain);
    ~Session();
    bool ready() const { return m_world.ready(); }

    // Does the step and checks it; the violations found (empty when all is well).
    QList<Violation> run(const Step& step);

    World& world() { return m_world; }
    const World& world() const { return m_world; }
    TMain* window() const { return m_window.get(); }
    const Model& model() const { return m_model; }
    const Snapshot& state() const { return m_state; }
    const Counts& counts() const { return m_counts; }
    const QList<Stall>& stalls() const { return m_stallsFound; }

private:
    void openWindow();
    void noticeListsOfTheConnectedServer();
    // The user's part of a step; fills in what a pressed button asked for.
    void performUser(const Step& step, StepRecord& record);
    void performWorld(const Step& step);
    void press(const Step& step, StepRecord& record);
    bool reachesOutsideWorld(const Asked& asked) const;
    bool onCurrentPage(const QString& widget) const;

    World m_world;
    std::unique_ptr<TMain> m_window;
    Model m_model;
    Snapshot m_state;
    Counts m_counts;
    StallWatch m_stalls;
    QList<Stall> m_stallsFound;
    int m_steps = 0;
    // A Yes given since the other programs' sessions were last all counted.
    bool m_yesSinceCount = false;
    QSet<int> m_invariants;
    const Step* m_current = nullptr;
    bool m_noBeforeStart = false;
    // Server A was stopped and nothing else broke the window's link since: once it goes on, the
    // window's connection must work again.
    bool m_stopToCheck = false;
    QString probeAfterResume();
    QList<modal::Request> m_dialogs;
    std::optional<QString> m_pick;
    std::optional<QString> m_serverPick;
};

// The page a widget of the pages is on (0..3), -1 for the left panel.
int pageOf(const QString& widget);

// Set by the application object when an exception reaches Qt's event loop.
extern bool g_exceptionInEventLoop;

} // namespace explore
