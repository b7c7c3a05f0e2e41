#include "RoundTripWait.h"

#include "ServerWait.h"

#include <QWidget>

namespace {
roundtrip::Waiter g_installed; // the one this thread has now, so that the previous one comes back
}

RoundTripWait::RoundTripWait(QWidget* window, std::function<QString()> serverName) : m_before(g_installed) {
    QPointer<QWidget> guarded(window);
    g_installed = [guarded, serverName = std::move(serverName)](std::function<void()> job) {
        // Told to tests only when it shows: most round trips take a few milliseconds.
        return serverwait::run(guarded, QStringLiteral("Очікування відповіді сервера"),
                               QStringLiteral("Сервер: ") + serverName(), std::move(job),
                               serverwait::Announce::WhenShown);
    };
    roundtrip::installWaiter(g_installed);
}

RoundTripWait::~RoundTripWait() {
    g_installed = m_before;
    roundtrip::installWaiter(g_installed);
}
