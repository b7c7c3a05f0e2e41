// The shared folder as the backup's route (see BackupThroughShared.h).
#include "BackupThroughShared.h"

#include "DbError.h"
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

bool offered(const OperationPlan& asked) {
    return asked.serverUid >= 0 && asked.refusedPaths(FileUse::Write).size() == 1 &&
           asked.refusedPaths(FileUse::Read).isEmpty() && asked.refusedPaths(FileUse::CreateIn).isEmpty();
}

ops::backup::SharedFile prepare(const OperationPlan& asked, serverfiles::ServerFiles& files,
                                const QString& chosen) {
    const SharedFolder shared =
        prepareSharedFolder(uid_t(asked.serverUid), asked.serverAccount,
                            [&files](const QString& f) { return reachesFolder(files, f); });
    if (!shared.ok()) {
        QStringList lines = shared.problems;
        if (!shared.sudoCommand.isEmpty())
            lines << QStringLiteral("Адміністратор може створити спільну теку однією командою:\n") +
                         shared.sudoCommand;
        lines << QStringLiteral("Серверу нічого не надіслано.");
        return {{}, lines.join(QLatin1Char('\n'))};
    }
    return {freshPath(shared.folder, QFileInfo(chosen).fileName()), {}};
}

} // namespace backupshared
