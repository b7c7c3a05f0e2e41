// The plan's shown T-SQL (Plan.h).
#include "Plan.h"

namespace ops {

QString putBackComment() {
    return QStringLiteral("-- якщо операція не вдасться:");
}

QStringList Plan::texts() const {
    QStringList out;
    for (const Statement& s : statements)
        out << s.shownText(); // a password as stars: it is never shown again once typed
    return out;
}

QStringList Plan::putBackTexts() const {
    QStringList out;
    for (const Statement& s : putBack)
        out << s.text;
    return out;
}

QString Plan::shown() const {
    QStringList lines = texts();
    if (!putBack.isEmpty())
        lines << putBackComment() << putBackTexts();
    return lines.join(QLatin1Char('\n'));
}

} // namespace ops
