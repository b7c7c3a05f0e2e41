// The window's executor of plans (OperationRun.h).
#include "OperationRun.h"

#include "AdoQuery.h"
#include "DbError.h"
#include "ModalSeam.h"
#include "ServerWait.h"
#include "SingleUser.h"

#include <QPointer>
#include <QWidget>

namespace operationrun {
namespace {
int g_running = 0;
bool g_puttingBack = false;
QPointer<QWidget> g_closeAfter;
} // namespace

bool isRunning() {
    return g_running > 0;
}

void closeRequested(QWidget* window) {
    if (g_closeAfter)
        return;
    g_closeAfter = window;
    // The put-back is waited for: it is what the close waits for.
    if (!g_puttingBack)
        serverwait::giveUp();
}

bool closing() {
    return g_closeAfter != nullptr;
}

longop::Left leftBy(ops::Outcome outcome) {
    switch (outcome) {
    case ops::Outcome::Done:
        return longop::Left::Done;
    case ops::Outcome::NotDone:
        return longop::Left::NotDone;
    case ops::Outcome::Unknown:
        break;
    }
    throw DbError(QString());
}

ops::Ran run(QWidget* window, const ops::Plan& plan, WindowExecutor& executor) {
    ops::Ran ran = ops::run(plan, executor, ops::journal());
    if (!g_closeAfter)
        return ran;
    QPointer<QWidget> closeAfter = g_closeAfter;
    g_closeAfter = nullptr;
    if (!ran.putBackFailed.isEmpty())
        modal::messageDialog(ops::singleuser::leftSingleUser(plan.database, ran.putBackFailed),
                             DialogType::Warning, {DialogButton::OK});
    longop::closeOnceHandlerEnds(closeAfter ? closeAfter.data() : window);
    // Nothing else to tell: the user closed the window on it.
    throw OperationCancelled{};
}
} // namespace operationrun

WindowExecutor::WindowExecutor(QWidget* window, AdoQuery& query, longop::Operation longOperation)
    : m_window(window), m_query(query), m_long(std::move(longOperation)) {
    ++operationrun::g_running;
    operationrun::g_puttingBack = false;
}

WindowExecutor::~WindowExecutor() {
    --operationrun::g_running;
    operationrun::g_puttingBack = false;
}

void WindowExecutor::setLongOperation(const QString& statement, longop::Operation operation) {
    m_longFor.insert(statement, std::move(operation));
}

void WindowExecutor::puttingBack() {
    operationrun::g_puttingBack = true;
}

void WindowExecutor::send(const ops::Statement& statement) {
    // A close asked for between two statements stops the plan before the next one.
    if (operationrun::g_closeAfter && !operationrun::g_puttingBack)
        throw OperationCancelled{};
    m_lastSent = statement.text;
    m_query.close();
    m_query.setText(statement.text);
    if (statement.pace == ops::Pace::Long)
        longop::run(m_window, m_query, m_longFor.value(statement.text, m_long));
    else if (statement.rowset)
        m_query.openRowset();
    else
        m_query.execute();
    // Rows are the caller's to read: left open.
    if (!statement.rowset)
        m_query.close();
}
