// The guard that lets everyone in again when the operation did not happen (DisconnectOthers.h).
#include "DisconnectOthers.h"

#include "AdoQuery.h"
#include "DbError.h"
#include "ModalSeam.h"
#include "Runner.h"
#include "ServerWait.h"

DisconnectOthers::DisconnectOthers(AdoQuery& query, QString server, QString database)
    : m_query(query), m_server(std::move(server)), m_database(std::move(database)) {}

DisconnectOthers::~DisconnectOthers() {
    if (!m_disconnected || m_kept)
        return;
    // Back to what it was, whatever stopped the operation; a database the failure took away (a
    // restore that left nothing) has nothing to set.
    QString why;
    try {
        m_query.close();
        m_query.setText(disconnectothers::multiUser(m_database));
        m_query.execute();
        m_query.close();
        ops::journal().crossOut(m_entry.id);
        return;
    } catch (const DbError& e) {
        why = e.message();
    } catch (...) {
        why = QStringLiteral("Unknown error");
    }
    try {
        if (!ops::stillLeft(m_query, m_entry)) {
            ops::journal().crossOut(m_entry.id);
            return;
        }
    } catch (...) {
    }
    // Left in the journal: the next connect to this server asks about it again. Told now unless the
    // window is gone (a message box would keep the program running).
    if (!serverwait::givenUpForGood()) {
        try {
            modal::messageDialog(ops::singleuser::leftSingleUser(m_database, why), DialogType::Warning,
                                 {DialogButton::OK});
        } catch (...) {
        }
    }
}

void DisconnectOthers::disconnect() {
    m_entry.kind = ops::JournalEntry::Kind::SingleUser;
    m_entry.server = m_server;
    m_entry.database = m_database;
    QString problem;
    if (!ops::journal().write(m_entry, &problem))
        throw DbError(problem + QStringLiteral(" Серверу нічого не надіслано."));
    m_disconnected = true;
    try {
        m_query.close();
        m_query.setText(disconnectothers::singleUser(m_database));
        m_query.execute();
        m_query.close();
    } catch (const DbError& e) {
        // Refused: nothing changed. A lost link may have come after the server made the change:
        // then the destructor puts MULTI_USER back, and the journal keeps it until that is done.
        bool linkLost = false;
        for (const DbError::Record& r : e.records())
            linkLost = linkLost || r.state.startsWith(QLatin1String("08"));
        if (!linkLost) {
            m_disconnected = false;
            ops::journal().crossOut(m_entry.id);
        }
        throw;
    }
}

void DisconnectOthers::keep() {
    m_kept = true;
    if (m_disconnected)
        ops::journal().crossOut(m_entry.id);
}
