#include "PasswordFile.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace backupcmd {
namespace {

Password fromFile(const QString& path, bool checkOwnerOnly) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {{}, QStringLiteral("не вдалося прочитати файл пароля %1: %2")
                        .arg(path, QString::fromLocal8Bit(std::strerror(errno)))};
    if (!S_ISREG(st.st_mode))
        return {{}, QStringLiteral("файл пароля %1 не є звичайним файлом").arg(path)};
    // Read by others, the password is no longer the login's secret: refused before it is used.
    if (checkOwnerOnly && (st.st_mode & (S_IRGRP | S_IROTH | S_IWGRP | S_IWOTH)))
        return {{}, QStringLiteral("файл пароля %1 можуть читати або змінювати інші користувачі (права %2); "
                                   "дозвольте доступ лише власникові: chmod 600 %1")
                        .arg(path, QString::number(st.st_mode & 0777, 8).rightJustified(4, QLatin1Char('0')))};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, QStringLiteral("не вдалося прочитати файл пароля %1: %2").arg(path, file.errorString())};
    QByteArray bytes = file.readAll();
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    return {QString::fromUtf8(bytes), {}};
}

} // namespace

Password readPassword(const QString& path) {
    if (!path.isEmpty())
        return fromFile(path, true);
    const QByteArray credentials = qgetenv("CREDENTIALS_DIRECTORY");
    if (credentials.isEmpty())
        return {{}, QStringLiteral("не вказано, звідки взяти пароль: --password-file ФАЙЛ (файл, який може "
                                   "читати лише власник) або LoadCredential=password:... у службі systemd")};
    // systemd has made the file readable by the service alone, whatever the source's rights were.
    return fromFile(QFile::decodeName(credentials) + QStringLiteral("/password"), false);
}

} // namespace backupcmd
