// A session: the world and window set up, each step done between two readings of the world, and
// the step checked against what the user asked for.
#include "Session.h"

#include "AdoConnection.h"
#include "AdoQuery.h"
#include "DbError.h"
#include "LongOperation.h"
#include "ProgressDialog.h"
#include "WindowHarness.h"

#include <QComboBox>
#include <algorithm>
#include <QCoreApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <cstdio>

namespace explore {

bool g_exceptionInEventLoop = false;

void StallWatch::start() {
    clock.start();
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [this] {
        const qint64 now = clock.elapsed();
        if (last >= 0)
            longestInStep = qMax(longestInStep, now - last);
        last = last >= 0 ? now : -1;
    });
    timer.start();
}

void StallWatch::beginStep() {
    last = clock.elapsed();
    longestInStep = 0;
}

qint64 StallWatch::endStep() {
    if (last >= 0)
        longestInStep = qMax(longestInStep, clock.elapsed() - last);
    last = -1;
    return longestInStep;
}

Session::Session(int version, QSet<int> invariants, Variant variant)
    : m_world(version, variant), m_invariants(std::move(invariants)) {
    modal::setResponder([this](const modal::Request& r) {
        m_dialogs << r;
        if (qEnvironmentVariableIsSet("ZELVARO_EXPLORE_VERBOSE"))
            std::fprintf(stdout, "explore:      [dialog %d] %s\n", int(r.kind), r.text.simplified().toUtf8().constData());
        // A question answered No before any operation started: nothing may change after it. The
        // questions about an arrived database's users come after its success message.
        const bool afterSuccess = std::any_of(m_dialogs.begin(), m_dialogs.end(), [](const modal::Request& d) {
            return d.text.contains(QStringLiteral("успішно відновлена")) ||
                   d.text.contains(QStringLiteral("успішно приєднана"));
        });
        if (r.type == DialogType::Confirmation && !longop::isRunning() && m_current && !m_current->yes &&
            !afterSuccess)
            m_noBeforeStart = true;
        modal::Answer a;
        switch (r.kind) {
        case modal::Kind::OpenFile:
        case modal::Kind::SaveFile:
        case modal::Kind::Folder:
            a.path = m_pick;
            break;
        case modal::Kind::ServerFile:
        case modal::Kind::ServerFolder:
            a.path = m_serverPick;
            break;
        case modal::Kind::Password: {
            // A step answered Yes types the first login's password and leaves the other users.
            int asked = 0;
            for (const modal::Request& d : m_dialogs)
                asked += d.kind == modal::Kind::Password;
            if (asked == 1 && m_current && m_current->yes)
                a.path = QStringLiteral("Explore-pass-1");
            break;
        }
        default:
            // Confirmations as the step says; every other dialog is acknowledged.
            a.result = r.type == DialogType::Confirmation ? (m_current && m_current->yes ? 6 : 7)
                       : r.buttons.contains(DialogButton::OK) ? 1
                                                               : 2;
        }
        return a;
    });
    if (!m_world.ready())
        return;
    openWindow();
    m_stalls.start();
    m_state = m_world.snapshot();
}

Session::~Session() {
    modal::setResponder(nullptr);
    modal::setProgressWatcher(nullptr);
    m_window.reset();
}

void Session::openWindow() {
    m_window = std::make_unique<TMain>();
    m_window->show();
    // The user's first move: the version and the name of the server to work with (never the
    // computer's own name: whatever answers there is nobody's test server).
    auto* versions = m_window->findChild<QComboBox*>(QStringLiteral("cbSQLServers"));
    versions->setCurrentIndex(versions->findText(QString::number(m_world.version())));
    m_window->findChild<QLineEdit*>(QStringLiteral("ServerName"))->setText(m_world.serverName(0));
    m_model = Model();
}

// A window may refill its lists on its own (after connecting, say): a list that shows exactly the
// user databases of the server the fields name and are connected to is that server's list.
void Session::noticeListsOfTheConnectedServer() {
    if (!m_window || !m_window->connection().isOpen())
        return;
    const int server = m_world.serverOf(m_window->findChild<QLineEdit*>(QStringLiteral("ServerName"))->text());
    if (server < 0)
        return;
    QSet<QString> names;
    for (const DbState& db : m_state.servers.value(server))
        names.insert(db.name);
    QSet<QString> listed, combo;
    const QAbstractItemModel* model = m_window->findChild<QListView*>(QStringLiteral("ListDataBases"))->model();
    for (int row = 0; row < model->rowCount(); ++row)
        listed.insert(model->index(row, 0).data().toString());
    auto* box = m_window->findChild<QComboBox*>(QStringLiteral("cbDataBase1"));
    for (int i = 0; i < box->count(); ++i)
        combo.insert(box->itemText(i));
    if (!listed.isEmpty() && listed == names) {
        m_model.listSource = server;
        m_model.settingsChangedSinceList = false;
    }
    if (combo.size() > 0 && combo == names) {
        m_model.comboSource = server;
        m_model.settingsChangedSinceCombo = false;
    }
}

// A stop shorter than the driver's time-outs breaks no link: when the window says it is connected to
// server A, a statement on its connection works once A goes on. Empty when it does (or when there is
// nothing to ask), else what went wrong.
QString Session::probeAfterResume() {
    if (!m_window || longop::isRunning() || !m_window->connection().isOpen() ||
        m_world.serverOf(m_window->findChild<QLineEdit*>(QStringLiteral("ServerName"))->text()) != 0)
        return {};
    try {
        AdoQuery q(m_window->connection());
        q.setText(QStringLiteral("SELECT 1"));
        q.execute();
        return {};
    } catch (const DbError& e) {
        return e.message();
    }
}

QList<Violation> Session::run(const Step& step) {
    StepRecord record;
    record.step = step;
    record.before = m_state;
    m_current = &step;
    m_dialogs.clear();
    m_noBeforeStart = false;
    g_exceptionInEventLoop = false;
    ++m_steps;
    if (step.isWorld()) {
        performWorld(step);
        ++(step.act == Act::Restart ? m_counts.restart : m_counts.world);
    } else {
        m_stalls.beginStep();
        performUser(step, record);
    }
    // Whatever the step left queued (a close asked for during an operation) runs now.
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!step.isWorld()) {
        record.longestStall = m_stalls.endStep();
        if (record.longestStall > kStallLimitMs)
            m_stallsFound << Stall{m_steps, record.longestStall, step.describe()};
    }
    if (m_window && !m_window->isVisible()) {
        m_window.reset();
        openWindow();
    }
    m_current = nullptr;
    record.dialogs = m_dialogs;
    record.noBeforeStart = m_noBeforeStart;
    record.after = m_world.snapshot();
    record.exceptionInEventLoop = g_exceptionInEventLoop;
    for (int server : {0, 1})
        record.sent << m_world.statementsBetween(server, record.before, record.after);
    for (const modal::Request& d : m_dialogs)
        if (d.type == DialogType::Confirmation && step.yes)
            record.yesGiven = true;
    m_yesSinceCount = m_yesSinceCount || record.yesGiven;
    if (step.act == Act::Stop)
        m_stopToCheck = true;
    else if (step.act == Act::Cut || step.act == Act::Restart || step.act == Act::CloseWindow)
        m_stopToCheck = false;
    if (step.isWorld()) {
        // The world broke their links or restarted their server: they connect again.
        m_world.reconnectHolders();
    } else {
        if (m_stopToCheck && !m_world.aStopped()) {
            m_stopToCheck = false;
            record.afterResume = probeAfterResume();
        }
        bool complete = true;
        record.sessionsEnded = m_world.sessionsEnded(&complete);
        record.yesSinceCount = m_yesSinceCount;
        if (complete)
            m_yesSinceCount = false;
    }
    const bool arrived = (record.asked.op == Op::Restore || record.asked.op == Op::Attach) &&
                         std::any_of(m_dialogs.begin(), m_dialogs.end(), [](const modal::Request& d) {
                             return d.text.contains(QStringLiteral("успішно відновлена")) ||
                                    d.text.contains(QStringLiteral("успішно приєднана"));
                         });
    if (!step.isWorld() && m_invariants.contains(8) && arrived)
        record.orphansAfter = m_world.orphans(record.asked.server, record.asked.name);
    m_state = record.after;
    noticeListsOfTheConnectedServer();

    QList<Violation> found;
    // The world's own changes are the new state of things, not a fault of the window's.
    if (!step.isWorld()) {
        if (m_invariants.contains(1))
            found += checkFiles(record);
        if (m_invariants.contains(2))
            found += checkDatabases(record);
        if (m_invariants.contains(3))
            found += checkMessages(record);
        if (m_invariants.contains(5))
            found += checkConsent(record);
        if (m_invariants.contains(6))
            found += checkStall(record);
        if (m_invariants.contains(7))
            found += checkServerReach(record);
        if (m_invariants.contains(8))
            found += checkArrived(record);
    }
    if (m_invariants.contains(4))
        found += checkWindow(record, m_window.get(), m_model);
    for (Violation& v : found)
        v.detail = m_world.tokenized(v.detail);
    return found;
}

} // namespace explore
