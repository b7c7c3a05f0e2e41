#include "SqlQuote.h"

namespace sqlquote {

QString name(const QString& identifier) {
    QString body = identifier;
    body.replace(QLatin1Char(']'), QLatin1String("]]"));
    return QLatin1Char('[') + body + QLatin1Char(']');
}

QString literal(const QString& text) {
    QString body = text;
    body.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1String("N'") + body + QLatin1Char('\'');
}

} // namespace sqlquote
