#include "ConnectWait.h"

#include "AdoConnection.h"
#include "ConnectAttempt.h"
#include "ServerWait.h"

namespace connectwait {

bool open(QWidget* window, AdoConnection& connection, const QString& serverName) {
    const std::shared_ptr<ConnectAttempt> attempt = connection.beginOpen();
    // The worker holds the attempt too: given up, it frees the link (or nothing) when the login ends.
    const bool ended = serverwait::run(window, QStringLiteral("Підключення до сервера"),
                                       QStringLiteral("Сервер: ") + serverName, [attempt] { attempt->run(); });
    if (!ended)
        return false;
    connection.finishOpen(*attempt);
    return true;
}

} // namespace connectwait
