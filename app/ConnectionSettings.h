// The connection settings of the left panel turned into a provider, a server name and a
// connection string.
#pragma once

#include <QString>
#include <QStringList>

namespace connection {

// "2005" SQLNCLI.1, "2008" SQLNCLI10.1, 2012 to 2019, 2022 and 2025 SQLNCLI11.0, anything else
// SQLOLEDB.1.
QString providerPrefix(const QString& versionText);
// The string handed to the connection: values that hold ";" or begin with a quote are quoted.
QString buildConnectionString(const QString& versionText, const QString& server, const QString& user,
                              const QString& password);
// The computer name alone for "2000"; otherwise with "\SQL" and the version appended.
QString derivedServerName(const QString& computerName, const QString& versionText);
// Whether the server name field still holds what the program would put there itself (empty, or
// the derived name of one of the versions): only then may a new derived name replace it. A name
// the user typed is the server they mean.
bool holdsDerivedServerName(const QString& fieldText, const QString& computerName,
                            const QStringList& versionTexts);
// The host name as the system reports it, whole; "localhost" when there is none.
QString computerName();
// The same rule for a name as reported.
QString computerNameFrom(const QString& reported);

} // namespace connection
