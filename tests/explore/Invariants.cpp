// The checks of one step against the model: what changed on disk and on the servers, what the user
// was told, and in what state the window was left.
#include "Invariants.h"

#include "FMain.h"
#include "LongOperation.h"

#include <QApplication>
#include <QComboBox>
#include <QListView>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>

namespace explore {

namespace {
bool isSuccess(const modal::Request& r) {
    // A database from another server: the success text opens the questions that mend its users.
    const bool arrived = (r.type == DialogType::Confirmation || r.kind == modal::Kind::Password) &&
                         r.text.startsWith(QStringLiteral("База даних "));
    return (r.type == DialogType::Information || arrived) && r.text.contains(QStringLiteral("успішно")) &&
           !r.text.startsWith(QStringLiteral("Підключення"));
}
bool isCancelled(const modal::Request& r) {
    return r.type == DialogType::Warning && r.text.contains(QStringLiteral("скасовано"));
}
bool isFailure(const modal::Request& r) {
    return (r.kind == modal::Kind::MessageDialog && r.type == DialogType::Error) ||
           r.kind == modal::Kind::SystemMessageBox || r.kind == modal::Kind::ErrorBox ||
           r.kind == modal::Kind::SimpleMessage;
}
template <typename Pred> bool any(const StepRecord& r, Pred pred) {
    for (const modal::Request& d : r.dialogs)
        if (pred(d))
            return true;
    return false;
}
QString shortText(const QString& t) {
    return t.size() > 160 ? t.left(160) + QStringLiteral("…") : t;
}
QString filesOf(const DbState* db) {
    return db ? (db->files.join(QStringLiteral(", ")) + (db->restoring ? QStringLiteral(" (restoring)") : QString()))
              : QStringLiteral("absent");
}
} // namespace

QList<Violation> checkFiles(const StepRecord& r) {
    QList<Violation> out;
    QSet<QString> paths;
    for (auto it = r.before.files.constBegin(); it != r.before.files.constEnd(); ++it)
        paths.insert(it.key());
    for (auto it = r.after.files.constBegin(); it != r.after.files.constEnd(); ++it)
        paths.insert(it.key());
    // An attached database brings the files its data file names.
    QSet<QString> broughtAlong;
    if (r.asked.op == Op::Attach)
        if (const DbState* db = r.after.database(r.asked.server, r.asked.name))
            for (const QString& f : db->files)
                broughtAlong.insert(f);
    for (const QString& p : paths) {
        const bool was = r.before.files.contains(p), is = r.after.files.contains(p);
        if (was && is && r.before.files.value(p) == r.after.files.value(p))
            continue;
        if (r.permit.files.contains(p) || broughtAlong.contains(p))
            continue;
        if (r.permit.unchangedOnly.contains(p) && is)
            continue;
        if (!was && r.permit.newFilesIn.contains(folderOf(p)))
            continue;
        const QString how = !was ? QStringLiteral("appeared") : !is ? QStringLiteral("vanished") : QStringLiteral("changed");
        out << Violation{1, QStringLiteral("file ") + how, QStringLiteral("file %1 %2").arg(p, how)};
    }
    return out;
}

QList<Violation> checkDatabases(const StepRecord& r) {
    QList<Violation> out;
    for (int s = 0; s < r.after.servers.size() && s < r.before.servers.size(); ++s) {
        QSet<QString> names;
        for (const QString& n : r.before.servers[s].keys())
            names.insert(n);
        for (const QString& n : r.after.servers[s].keys())
            names.insert(n);
        for (const QString& n : names) {
            const DbState* was = r.before.database(s, n);
            const DbState* is = r.after.database(s, n);
            if (was && is && was->name == is->name && was->files == is->files && was->restoring == is->restoring)
                continue;
            if (s == r.permit.server && n == r.permit.database && !n.isEmpty())
                continue;
            const QString how = !was ? QStringLiteral("appeared") : !is ? QStringLiteral("vanished") : QStringLiteral("changed");
            out << Violation{2, QStringLiteral("database ") + how,
                             QStringLiteral("database %1 on server %2 %3: before %4; after %5")
                                 .arg(n, s ? QStringLiteral("B") : QStringLiteral("A"), how, filesOf(was), filesOf(is))};
        }
    }
    return out;
}

QList<Violation> checkMessages(const StepRecord& r) {
    QList<Violation> out;
    const Asked& a = r.asked;
    if (a.op == Op::None || a.server < 0)
        return out;
    const bool success = any(r, isSuccess);
    const bool cancelled = any(r, isCancelled);
    const bool failure = any(r, isFailure);
    const DbState* was = r.before.database(a.server, a.name);
    const DbState* is = r.after.database(a.server, a.name);
    auto told = [&](const char* key, const QString& what) {
        QStringList texts;
        for (const modal::Request& d : r.dialogs)
            texts << shortText(d.text);
        out << Violation{3, QLatin1String(key),
                         what + QStringLiteral("; the user was told: ") + texts.join(QStringLiteral(" | "))};
    };
    switch (a.op) {
    case Op::Attach: {
        const bool done = is && !is->restoring && !is->files.isEmpty() && is->files.first() == a.mdf;
        if (success && !done)
            told("success but not done", QStringLiteral("database %1 is %2").arg(a.name, filesOf(is)));
        if (!success && (cancelled || failure) && done && !(was && was->files == is->files))
            told("failure but done", QStringLiteral("database %1 is attached from %2").arg(a.name, filesOf(is)));
        // An older database of that name is detached first: unless the attach succeeded it must be
        // back, or the message must name its files.
        if (was && !success && !(is && is->files == was->files) &&
            !any(r, [&](const modal::Request& d) { return d.text.contains(was->files.first()); }))
            told("older database lost",
                 QStringLiteral("the older database %1 (%2) is now %3").arg(a.name, filesOf(was), filesOf(is)));
        break;
    }
    case Op::Delete:
        if (success && is)
            told("success but not done", QStringLiteral("database %1 is still there").arg(a.name));
        if (!success && (cancelled || failure) && was && !is)
            told("failure but done", QStringLiteral("database %1 is gone").arg(a.name));
        break;
    case Op::Detach:
        if (success && is)
            told("success but not done", QStringLiteral("database %1 is still there").arg(a.name));
        if (failure && was && !is)
            told("failure but done", QStringLiteral("database %1 is gone").arg(a.name));
        break;
    case Op::Restore: {
        const bool done = is && !is->restoring && !is->files.isEmpty() && is->files.first() == a.mdf &&
                          r.before.files.value(a.mdf) != r.after.files.value(a.mdf);
        if (success && !done)
            told("success but not done", QStringLiteral("database %1 is %2").arg(a.name, filesOf(is)));
        if (!success && (cancelled || failure) && done)
            told("failure but done", QStringLiteral("database %1 was restored: %2").arg(a.name, filesOf(is)));
        break;
    }
    case Op::Backup: {
        const bool written = r.after.files.contains(a.bak) && r.after.files.value(a.bak) != r.before.files.value(a.bak);
        if (success && !written)
            told("success but not done", QStringLiteral("backup file %1 was not written").arg(a.bak));
        // A backup is called checked only when the server was asked to check it: after a cancel,
        // or a server that stopped answering, the backup may be there while no check ever ran.
        if (any(r, [](const modal::Request& d) { return d.text.contains(QStringLiteral("Копію перевірено")); }) &&
            !r.sent.value(a.server).contains(QLatin1String("VERIFYONLY"), Qt::CaseInsensitive))
            told("checked but not verified", QStringLiteral("no RESTORE VERIFYONLY reached the server"));
        break;
    }
    case Op::None:
        break;
    }
    return out;
}

QList<Violation> checkWindow(const StepRecord& r, const TMain* window, const Model& model) {
    QList<Violation> out;
    if (r.exceptionInEventLoop)
        out << Violation{4, QStringLiteral("exception"), QStringLiteral("an exception reached the event loop")};
    if (longop::isRunning())
        out << Violation{4, QStringLiteral("still running"), QStringLiteral("an operation still runs after the step")};
    if (!r.afterResume.isEmpty())
        out << Violation{4, QStringLiteral("dead after resume"),
                         QStringLiteral("server A went on after a stop, yet the window's connection fails: ") +
                             r.afterResume};
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != window && w->isVisible())
            out << Violation{4, QStringLiteral("dialog left open"),
                             QStringLiteral("%1 \"%2\" is still open").arg(QLatin1String(w->metaObject()->className()),
                                                                           w->windowTitle())};
    if (!window || !window->isVisible())
        return out;
    for (const char* name : {"PageControl1", "Panel1"})
        if (!window->findChild<QWidget*>(QLatin1String(name))->isEnabled())
            out << Violation{4, QStringLiteral("controls left disabled"), QStringLiteral("%1 is disabled").arg(name)};
    // Once a connection setting changed, nothing listed from the old connection can be acted on.
    auto* pages = window->findChild<QTabWidget*>(QStringLiteral("PageControl1"));
    if (pages->isVisible()) {
        const bool listed = model.settingsChangedSinceList &&
                            window->findChild<QListView*>(QStringLiteral("ListDataBases"))->model()->rowCount() > 0;
        const bool comboListed = model.settingsChangedSinceCombo &&
                                 window->findChild<QComboBox*>(QStringLiteral("cbDataBase1"))->count() > 0;
        for (const char* button : {"BitBtn2", "BitBtn4"})
            if (listed && window->findChild<QPushButton*>(QLatin1String(button))->isEnabled())
                out << Violation{4, QStringLiteral("old list actionable"),
                                 QStringLiteral("a connection setting changed, yet %1 is enabled over the names "
                                                "listed from the old connection")
                                     .arg(button)};
        if (comboListed && window->findChild<QPushButton*>(QStringLiteral("BitBtn5"))->isEnabled())
            out << Violation{4, QStringLiteral("old list actionable"),
                             QStringLiteral("a connection setting changed, yet BitBtn5 is enabled over the names "
                                            "listed from the old connection")};
    }
    return out;
}

} // namespace explore

namespace explore {

namespace {
// Whether anything on the disk or on server `server` (every server when -1) differs.
QString whatChanged(const StepRecord& r, int server) {
    QStringList changed;
    QSet<QString> paths;
    for (auto it = r.before.files.constBegin(); it != r.before.files.constEnd(); ++it)
        paths.insert(it.key());
    for (auto it = r.after.files.constBegin(); it != r.after.files.constEnd(); ++it)
        paths.insert(it.key());
    for (const QString& p : paths)
        if (r.before.files.value(p) != r.after.files.value(p))
            changed << QStringLiteral("file %1").arg(p);
    for (int s = 0; s < r.after.servers.size() && s < r.before.servers.size(); ++s) {
        if (server >= 0 && s != server)
            continue;
        QSet<QString> names;
        for (const QString& n : r.before.servers[s].keys())
            names.insert(n);
        for (const QString& n : r.after.servers[s].keys())
            names.insert(n);
        for (const QString& n : names) {
            const DbState* was = r.before.database(s, n);
            const DbState* is = r.after.database(s, n);
            if (!was || !is || was->files != is->files || was->restoring != is->restoring || was->guid != is->guid)
                changed << QStringLiteral("database %1 on server %2 (before %3; after %4)")
                               .arg(n, s ? QStringLiteral("B") : QStringLiteral("A"), filesOf(was), filesOf(is));
        }
    }
    return changed.join(QStringLiteral(", "));
}
} // namespace

QList<Violation> checkConsent(const StepRecord& r) {
    QList<Violation> out;
    if (r.sessionsEnded > 0 && !r.yesSinceCount)
        out << Violation{5, QStringLiteral("session ended without Yes"),
                         QStringLiteral("the server ended %1 session(s) of another program, and the user said Yes "
                                        "to no question")
                             .arg(r.sessionsEnded)};
    if (r.noBeforeStart && !r.yesGiven) {
        const QString changed = whatChanged(r, -1);
        if (!changed.isEmpty())
            out << Violation{5, QStringLiteral("changed after No"),
                             QStringLiteral("the user answered No, yet changed: ") + changed};
    }
    // A database of that name replaced by a restore: whatever its backup is (the same database or
    // another family), that is the user's call. An attach under a taken name detaches the older
    // database without asking, as the page always did: its files stay as they were (invariant 1
    // holds them unchanged), ready to be attached again.
    const Asked& a = r.asked;
    if (a.op == Op::Restore && !r.yesGiven) {
        const DbState* was = r.before.database(a.server, a.name);
        const DbState* is = r.after.database(a.server, a.name);
        const bool rewritten = was && r.before.files.value(was->files.value(0)) !=
                                          r.after.files.value(was->files.value(0));
        const bool replaced = was && is && (was->guid != is->guid || was->files != is->files || rewritten);
        if (replaced)
            out << Violation{5, QStringLiteral("replaced without Yes"),
                             QStringLiteral("database %1 (%2, %3) was replaced by %4 (%5) without a Yes")
                                 .arg(a.name, was->guid, filesOf(was), is->guid, filesOf(is))};
    }
    return out;
}

QList<Violation> checkArrived(const StepRecord& r) {
    QList<Violation> out;
    for (const QString& user : r.orphansAfter) {
        const QString named = user == QLatin1String("dbo") ? QStringLiteral("Власник бази даних")
                                                           : QStringLiteral("• %1 —").arg(user);
        if (!any(r, [&](const modal::Request& d) { return d.text.contains(named); }))
            out << Violation{8, QStringLiteral("not told"),
                             QStringLiteral("%1 of database %2 matches no login, and the user was not told")
                                 .arg(user, r.asked.name)};
    }
    static const QRegularExpression changing(
        QStringLiteral("^(ALTER\\s+USER|CREATE\\s+LOGIN|ALTER\\s+AUTHORIZATION|EXEC\\s+sp_addlogin|"
                       "EXEC\\s+sp_changedbowner|EXEC\\s+sp_change_users_login\\s+'(Update_One|Auto_Fix)')"),
        QRegularExpression::CaseInsensitiveOption);
    for (int server : {0, 1})
        for (const QString& raw : r.sent.value(server).split(QLatin1Char('\n'))) {
            const QString line = raw.trimmed();
            if (!changing.match(line).hasMatch())
                continue;
            const bool confirmed = r.yesGiven && any(r, [&](const modal::Request& d) {
                                       return d.type == DialogType::Confirmation &&
                                              d.statements.split(QLatin1Char('\n')).contains(line);
                                   });
            if (!confirmed)
                out << Violation{8, QStringLiteral("changed without Yes"),
                                 QStringLiteral("sent without a Yes to the T-SQL shown: ") + shortText(line)};
        }
    return out;
}

QList<Violation> checkStall(const StepRecord& r) {
    if (r.longestStall <= kStallLimitMs)
        return {};
    return {Violation{6, QStringLiteral("stall"),
                      QStringLiteral("the window's event loop stood still for %1 ms").arg(r.longestStall)}};
}

QList<Violation> checkServerReach(const StepRecord& r) {
    QList<Violation> out;
    for (auto it = r.after.folders.constBegin(); it != r.after.folders.constEnd(); ++it) {
        if (!r.before.folders.contains(it.key()))
            continue;
        const QString how = widened(r.before.folders.value(it.key()), it.value());
        if (!how.isEmpty())
            out << Violation{7, QStringLiteral("folder opened"), QStringLiteral("folder %1: %2").arg(it.key(), how)};
    }
    if (r.refused.isEmpty())
        return out;
    const QString paths = r.refused.join(QStringLiteral(", "));
    // Statements that act on the path: not the questions about it (HEADERONLY, FILELISTONLY).
    static const QRegularExpression acting(
        QStringLiteral("RESTORE\\s+DATABASE|BACKUP\\s+DATABASE|FOR\\s+ATTACH|sp_attach_|CREATE\\s+DATABASE"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch sent = acting.match(r.sent.value(0));
    if (!r.yesGiven && sent.hasMatch()) {
        const QString& log = r.sent.value(0);
        const int from = int(log.lastIndexOf(QLatin1Char('\n'), sent.capturedStart()) + 1);
        out << Violation{7, QStringLiteral("refused path sent"),
                         QStringLiteral("server A cannot reach %1, yet without a Yes this was sent: %2")
                             .arg(paths, shortText(log.mid(from).section(QLatin1Char('\n'), 0, 0)))};
    }
    // Without a Yes nothing the server could not reach may have moved anything; after a Yes to the
    // remedy offered (a copy, a grant, another folder) the operation ran, and what it may touch is
    // the permit's (a failed attach puts the older database back, its files written to as any
    // detach and attach write them).
    if (!r.yesGiven && !any(r, isSuccess)) {
        const QString changed = whatChanged(r, 0);
        if (!changed.isEmpty())
            out << Violation{7, QStringLiteral("refused but changed"),
                             QStringLiteral("server A cannot reach %1 and nothing succeeded, yet changed: %2")
                                 .arg(paths, changed)};
    }
    return out;
}

} // namespace explore
