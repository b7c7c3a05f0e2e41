// A read grant on one file, taken back when it ends (see FileReadGrant.h).
#include "FileReadGrant.h"

#include "AccountAccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool ownedByMe(const QString& path) {
    struct stat st {};
    return stat(QFile::encodeName(path).constData(), &st) == 0 && st.st_uid == geteuid();
}

} // namespace

FileReadGrant::FileReadGrant(const QString& file, uid_t server, const QString& serverName) {
    const QString absolute = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
    if (!QFileInfo(absolute).isFile()) {
        m_problem = QStringLiteral("Файл «%1» не знайдено.").arg(absolute);
        return;
    }
    const Account account = accountOf(server);
    QStringList steps{QStringLiteral("/")};
    const QStringList parts = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString folder;
    for (int i = 0; i + 1 < parts.size(); ++i)
        steps << (folder += QLatin1Char('/') + parts[i]);

    const auto grant = [&](const QString& path, int bits) {
        if (allows(path, account, bits))
            return true;
        if (!ownedByMe(path)) {
            m_problem =
                QStringLiteral("Обліковий запис сервера «%1» не має доступу до «%2», а змінити його права "
                               "може лише власник.")
                    .arg(serverName, path);
            return false;
        }
        QString why;
        std::optional<AclChange> change = addUserRights(path, server, bits, &why);
        if (!change) {
            m_problem = why;
            return false;
        }
        if (change->changed)
            m_changes << *change;
        return true;
    };
    for (const QString& step : steps)
        if (!grant(step, Access::Traverse)) {
            release(); // the problem already set stays: release only fills an empty one
            return;
        }
    if (!grant(absolute, Access::Read)) {
        const QString first = m_problem;
        release();
        m_problem = first;
    }
}

FileReadGrant::~FileReadGrant() {
    release();
}

QStringList FileReadGrant::grantedPaths() const {
    QStringList out;
    for (const AclChange& c : m_changes)
        out << c.path;
    return out;
}

bool FileReadGrant::release() {
    bool all = true;
    while (!m_changes.isEmpty()) {
        const AclChange change = m_changes.takeLast();
        QString why;
        if (!takeBack(change, &why)) {
            all = false;
            if (m_problem.isEmpty())
                m_problem = why;
        }
    }
    return all;
}
