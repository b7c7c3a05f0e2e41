// The runner and its channel (Runner.h).
#include "Runner.h"

#include "DatabaseOperations.h"
#include "DbError.h"
#include "SingleUser.h"

namespace ops {

void Channel::send(const QString& text) {
    const QList<Statement>& list = m_puttingBack ? m_plan.putBack : m_plan.statements;
    if (m_next >= list.size() || list[m_next].text != text)
        throw NotInPlan(text);
    const Statement& statement = list[m_next++];
    m_executor.send(statement);
}

void Channel::beginPutBack() {
    m_puttingBack = true;
    m_next = 0;
    m_executor.puttingBack();
}

void Channel::passOver() {
    if (!m_puttingBack || m_next >= m_plan.putBack.size())
        throw NotInPlan(QStringLiteral("(pass over)"));
    ++m_next;
}

bool Channel::allSent() const {
    return !m_puttingBack && m_next == m_plan.statements.size();
}

bool stillLeft(AdoQuery& query, const JournalEntry& entry) {
    switch (entry.kind) {
    case JournalEntry::Kind::SingleUser:
        return singleuser::userAccess(query, entry.database) == QLatin1String("SINGLE_USER");
    case JournalEntry::Kind::Detached:
        return !databaseExists(query, entry.database);
    default:
        return true; // this computer's things: not the server's to say
    }
}

namespace {
bool writeDown(const Plan& plan, Journal& journal, QList<JournalEntry>& written, Ran& ran) {
    for (JournalEntry entry : plan.leaves) {
        QString problem;
        if (!journal.write(entry, &problem)) {
            for (const JournalEntry& w : written)
                journal.crossOut(w.id);
            written.clear();
            ran.stopped = std::make_exception_ptr(DbError(
                plan.leavesFrom == 0 ? problem + QStringLiteral(" Серверу нічого не надіслано.") : problem));
            return false;
        }
        written << entry;
    }
    return true;
}
} // namespace

Ran run(const Plan& plan, Executor& executor, Journal& journal) {
    Ran ran;
    QList<JournalEntry> written;
    Channel channel(plan, executor);
    int wentThrough = 0;
    try {
        for (int i = 0; i < plan.statements.size(); ++i) {
            // Written down before the statement that makes them: a crash from here on leaves the
            // journal saying what to take back.
            if (i == plan.leavesFrom && !writeDown(plan, journal, written, ran))
                return ran;
            channel.send(plan.statements[i].text);
            ++wentThrough;
        }
        ran.done = true;
    } catch (const NotInPlan&) {
        throw;
    } catch (...) {
        ran.stopped = std::current_exception();
    }
    if (ran.done) {
        // Done: what the plan left went with it (a detached or dropped database, a restored one
        // that is as its backup says).
        for (const JournalEntry& w : written)
            journal.crossOut(w.id);
        return ran;
    }
    if (written.isEmpty())
        return ran;
    ran.putBackSent = !plan.putBack.isEmpty();
    // The statement that stopped the plan was sent too: it may have gone through.
    const int reached = wentThrough + 1;
    const auto attempt = [&ran](const auto& step) {
        try {
            step();
        } catch (const NotInPlan&) {
            throw;
        } catch (const DbError& e) {
            ran.putBackFailed = ran.putBackFailed.isEmpty() ? e.message() : ran.putBackFailed;
        } catch (const std::exception& e) {
            ran.putBackFailed =
                ran.putBackFailed.isEmpty() ? QString::fromLocal8Bit(e.what()) : ran.putBackFailed;
        } catch (...) {
            ran.putBackFailed =
                ran.putBackFailed.isEmpty() ? QStringLiteral("Unknown error") : ran.putBackFailed;
        }
    };
    bool begun = false;
    attempt([&] {
        channel.beginPutBack();
        begun = true;
    });
    for (const Statement& s : plan.putBack) {
        if (!begun)
            break;
        if (s.onlyAfter >= reached) {
            channel.passOver();
            continue;
        }
        // Each gives back a thing of its own: one that fails (nothing there to give back, a
        // database a refused statement left in place) does not keep the next from being tried.
        attempt([&] { channel.send(s.text); });
    }
    const bool takenBack = !plan.putBack.isEmpty() && ran.putBackFailed.isEmpty();
    for (const JournalEntry& w : written) {
        bool left = !takenBack;
        if (left) {
            // The put-back may have failed because there is nothing to give back (the database was
            // dropped after all, its link lost before the answer came): only the server can say.
            try {
                left = stillLeft(executor.query(), w);
            } catch (...) {
            }
        }
        if (left)
            ran.left << w;
        else
            journal.crossOut(w.id);
    }
    if (ran.left.isEmpty())
        ran.putBackFailed.clear();
    return ran;
}

} // namespace ops
