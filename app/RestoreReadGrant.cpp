// The journalled read grant (RestoreReadGrant.h).
#include "RestoreReadGrant.h"

RestoreReadGrant::RestoreReadGrant(ops::JournalEntry entry, uid_t account) : m_entry(std::move(entry)) {
    if (!ops::journal().write(m_entry, &m_problem)) {
        m_entry.id.clear();
        if (m_problem.isEmpty())
            m_problem = QStringLiteral("Не вдалося записати журнал Zelvaro.");
        return;
    }
    m_grant = std::make_unique<FileReadGrant>(m_entry.path, account, m_entry.account);
    if (!m_grant->ok())
        m_problem = m_grant->problem();
}

RestoreReadGrant::~RestoreReadGrant() {
    if (m_entry.id.isEmpty())
        return;
    // Crossed out only once every entry it added is gone: one left stays written down.
    if (!m_grant || m_grant->release())
        ops::journal().crossOut(m_entry.id);
}
