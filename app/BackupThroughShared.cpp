// The shared folder as the backup's remedy (see BackupThroughShared.h).
#include "BackupThroughShared.h"

#include "DbError.h"
#include "ModalSeam.h"
#include "ServerFiles.h"
#include "SharedCopy.h"
#include "SharedFolder.h"

#include <QFileInfo>

namespace backupshared {

namespace {

bool reachesFolder(serverfiles::ServerFiles& files, const QString& folder) {
    try {
        const serverfiles::PathState s = files.state(folder);
        return s.answered && s.exists && s.isFolder;
    } catch (const DbError&) {
        return false;
    }
}

} // namespace

void offer(OperationPlan& plan, serverfiles::ServerFiles& files,
           std::function<QString(const QString& writtenAt)> statementFor) {
    const QStringList refused = plan.refusedPaths(FileUse::Write);
    if (plan.serverUid < 0 || refused.size() != 1 || plan.refusedPaths(FileUse::Read).size() ||
        plan.refusedPaths(FileUse::CreateIn).size())
        return;
    const QString chosen = refused.first();
    plan.remedy.offer =
        QStringLiteral("Сервер (%1) може записати копію до спільної теки (вона ваша, серверу відкрито лише "
                       "її, наприклад %2). Zelvaro перевірить копію там і перенесе її до %3; у спільній теці "
                       "нічого не залишиться, права ваших каталогів не зміняться. Зробити так?")
            .arg(plan.serverAccount, sharedFolderPlaces().first(), chosen);
    plan.remedy.apply = [&files, chosen, statementFor = std::move(statementFor)](OperationPlan& p) {
        const SharedFolder shared =
            prepareSharedFolder(uid_t(p.serverUid), p.serverAccount,
                                [&files](const QString& f) { return reachesFolder(files, f); });
        if (!shared.ok()) {
            QStringList lines = shared.problems;
            if (!shared.sudoCommand.isEmpty())
                lines << QStringLiteral("Адміністратор може створити спільну теку однією командою:\n") +
                             shared.sudoCommand;
            lines << QStringLiteral("Серверу нічого не надіслано.");
            modal::messageDialog(lines.join(QLatin1Char('\n')), DialogType::Error, {DialogButton::OK});
            return false;
        }
        const QString writtenAt = freshPath(shared.folder, QFileInfo(chosen).fileName());
        p.backupWrittenAt = writtenAt;
        p.files.clear();
        p.write(writtenAt);
        p.files.first().reach = Reach::Reached;
        p.statements = {statementFor(writtenAt)};
        return true;
    };
}

} // namespace backupshared
