// Reading and writing the "Provider=...;Data Source=...;User ID=...;Password=..." connection string,
// and translating it into an ODBC connection string for the FreeTDS driver.
#pragma once

#include <QString>

namespace connstr {

// A value as it goes into the string: unchanged unless it holds ";" or begins with a quote, in
// which case it is enclosed in double quotes with inner double quotes doubled.
QString formatValue(const QString& value);

struct Settings {
    QString provider;
    QString dataSource;
    QString userId;
    QString password;
};

// Keys are case-insensitive; unknown keys are ignored.
Settings parse(const QString& connectionString);

// Why the settings cannot be handed to the driver (a value holding "};", which its
// connection-string reader cannot take in any form), in the user's words; empty when they can.
QString refusal(const Settings& settings);

// "SQLOLEDB.1" 7.1, "SQLNCLI.1" 7.2, "SQLNCLI10.1" 7.3, "SQLNCLI11.0" 7.4; anything else 7.1.
QString tdsVersionFor(const QString& provider);

// The ODBC form, every value braced and taken whole by the driver: driver, server (host, host\instance or
// host,port), TDS version, UTF-8, login.
QString toOdbc(const Settings& settings, const QString& driver, const QString& database);

} // namespace connstr
