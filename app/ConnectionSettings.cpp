#include "ConnectionSettings.h"

#include "ConnectionString.h"

#include <QSysInfo>

namespace connection {

QString providerPrefix(const QString& versionText) {
    bool ok = false;
    const int version = versionText.trimmed().toInt(&ok);
    if (ok && version == 2005)
        return QStringLiteral("Provider=SQLNCLI.1;");
    if (ok && version == 2008)
        return QStringLiteral("Provider=SQLNCLI10.1;");
    // 2022 and 2025 speak TDS 7.4 as 2012 to 2019 do: the same provider, the same protocol.
    if (ok && ((version >= 2012 && version <= 2019) || version == 2022 || version == 2025))
        return QStringLiteral("Provider=SQLNCLI11.0;");
    return QStringLiteral("Provider=SQLOLEDB.1;");
}

QString buildConnectionString(const QString& versionText, const QString& server, const QString& user,
                              const QString& password) {
    return providerPrefix(versionText) + QLatin1String("Persist Security Info=False;") +
           QLatin1String("Data Source=") + connstr::formatValue(server) + QLatin1Char(';') +
           QLatin1String("User ID=") + connstr::formatValue(user) + QLatin1Char(';') +
           QLatin1String("Password=") + connstr::formatValue(password);
}

QString derivedServerName(const QString& computerName, const QString& versionText) {
    if (versionText == QLatin1String("2000"))
        return computerName;
    return computerName + QLatin1String("\\SQL") + versionText;
}

bool holdsDerivedServerName(const QString& fieldText, const QString& computerName,
                            const QStringList& versionTexts) {
    if (fieldText.trimmed().isEmpty())
        return true;
    // Server names are compared as the server resolves them: without regard to case.
    for (const QString& version : versionTexts)
        if (fieldText.compare(derivedServerName(computerName, version), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

QString computerName() {
    return computerNameFrom(QSysInfo::machineHostName());
}

QString computerNameFrom(const QString& reported) {
    // Whole: Linux host names run to 64 characters, and a shortened one does not resolve.
    return reported.isEmpty() ? QStringLiteral("localhost") : reported;
}

} // namespace connection
