#include "ConnectionString.h"

#include <QList>
#include <QPair>

namespace connstr {

QString formatValue(const QString& value) {
    if (!value.contains(QLatin1Char(';')) && !value.startsWith(QLatin1Char('"')) &&
        !value.startsWith(QLatin1Char('\'')))
        return value;
    QString body = value;
    body.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + body + QLatin1Char('"');
}

namespace {

QList<QPair<QString, QString>> splitPairs(const QString& text) {
    QList<QPair<QString, QString>> pairs;
    int i = 0;
    const int n = text.size();
    while (i < n) {
        const int eq = text.indexOf(QLatin1Char('='), i);
        if (eq < 0)
            break;
        const QString key = text.mid(i, eq - i).trimmed();
        i = eq + 1;
        QString value;
        if (i < n && text[i] == QLatin1Char('"')) {
            ++i;
            while (i < n) {
                if (text[i] == QLatin1Char('"')) {
                    if (i + 1 < n && text[i + 1] == QLatin1Char('"')) {
                        value += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                value += text[i++];
            }
            while (i < n && text[i] != QLatin1Char(';'))
                ++i;
        } else {
            const int semi = text.indexOf(QLatin1Char(';'), i);
            const int end = semi < 0 ? n : semi;
            value = text.mid(i, end - i);
            i = end;
        }
        if (i < n && text[i] == QLatin1Char(';'))
            ++i;
        pairs.append({key, value});
    }
    return pairs;
}

// FreeTDS reads a value that begins with "{" up to the first "}" followed by ";", and takes
// everything between as it is: no "}}" is turned back into "}". So "{" value "};" carries every
// value whole except one holding "};" (which no form can carry: unbraced, a value ends at its first
// ";"). Such values are refused before connecting (see refusal()).
QString braced(const QString& value) {
    return QLatin1Char('{') + value + QLatin1Char('}');
}

const QLatin1String kUnsendable("};");

} // namespace

Settings parse(const QString& connectionString) {
    Settings s;
    for (const auto& [key, value] : splitPairs(connectionString)) {
        const QString k = key.toLower();
        if (k == QLatin1String("provider"))
            s.provider = value;
        else if (k == QLatin1String("data source") || k == QLatin1String("server"))
            s.dataSource = value;
        else if (k == QLatin1String("user id") || k == QLatin1String("uid"))
            s.userId = value;
        else if (k == QLatin1String("password") || k == QLatin1String("pwd"))
            s.password = value;
    }
    return s;
}

QString refusal(const Settings& settings) {
    if (settings.dataSource.contains(kUnsendable))
        return QStringLiteral("Назва сервера містить «};»: таку назву не можна передати драйверу ODBC");
    if (settings.userId.contains(kUnsendable))
        return QStringLiteral("Логін містить «};»: такий логін не можна передати драйверу ODBC");
    if (settings.password.contains(kUnsendable))
        return QStringLiteral("Пароль містить «};»: такий пароль не можна передати драйверу ODBC");
    return {};
}

QString tdsVersionFor(const QString& provider) {
    const QString p = provider.trimmed().toUpper();
    if (p == QLatin1String("SQLNCLI.1"))
        return QStringLiteral("7.2");
    if (p == QLatin1String("SQLNCLI10.1"))
        return QStringLiteral("7.3");
    if (p == QLatin1String("SQLNCLI11.0"))
        return QStringLiteral("7.4");
    return QStringLiteral("7.1");
}

QString toOdbc(const Settings& settings, const QString& driver, const QString& database) {
    QString server = settings.dataSource.trimmed();
    QString port;
    // "host\instance" is left to the driver, which asks the SQL Server Browser for the port;
    // "host,port" is split because FreeTDS wants the port on its own.
    if (!server.contains(QLatin1Char('\\'))) {
        const int comma = server.lastIndexOf(QLatin1Char(','));
        if (comma >= 0) {
            port = server.mid(comma + 1).trimmed();
            server = server.left(comma).trimmed();
        }
    }
    if (server.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
        server = server.mid(4);
    if (server == QLatin1String(".") || server.compare(QLatin1String("(local)"), Qt::CaseInsensitive) == 0)
        server = QStringLiteral("127.0.0.1");

    QString odbc = QStringLiteral("Driver=%1;Server=%2;").arg(braced(driver), braced(server));
    // A bare host is the default instance on SQL Server's own port; FreeTDS has no default of its
    // own once the protocol version is given.
    if (port.isEmpty() && !server.contains(QLatin1Char('\\')))
        port = QStringLiteral("1433");
    if (!port.isEmpty())
        odbc += QStringLiteral("Port=%1;").arg(port);
    // Timeout: the driver's default query time-out; each statement sets its own (none for a statement
    // that changes something, see AdoQuery), so this only covers what runs before that.
    // Encryption=request: TLS whenever the server offers it (the login at least, everything when the
    // server forces it); a server without it (2000) still takes the login in clear. The server's
    // certificate is not checked: SQL Server's own self-signed one could not pass.
    odbc += QStringLiteral("TDS_Version=%1;ClientCharset=UTF-8;Encryption=request;Timeout=1000;")
                .arg(tdsVersionFor(settings.provider));
    odbc += QStringLiteral("UID=%1;PWD=%2;").arg(braced(settings.userId), braced(settings.password));
    if (!database.isEmpty())
        odbc += QStringLiteral("Database=%1;").arg(braced(database));
    return odbc;
}

} // namespace connstr
