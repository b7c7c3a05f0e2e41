// What a backup's target holds before WITH INIT replaces it (see BackupTarget.h).
#include "BackupTarget.h"

#include "AdoQuery.h"
#include "DbError.h"
#include "RestorePlan.h"
#include "SqlQuote.h"

#include <QStringList>

namespace backuptarget {

Held read(AdoQuery& query, const QString& path, bool exists, bool is2000) {
    Held held;
    if (!exists)
        return held;
    query.close();
    query.setText(QLatin1String("RESTORE HEADERONLY FROM DISK = ") + sqlquote::literal(path));
    try {
        query.openRowset();
    } catch (const DbError& e) {
        query.close();
        // 3241: the server finds no backup in what it read (3013 ends the statement); anything else
        // (3201, the file cannot be opened) leaves what is in it unknown.
        held.kind = Held::Kind::NoBackup;
        for (const DbError::Record& r : e.records())
            if (r.native != 3241 && r.native != 3013)
                held.kind = Held::Kind::Unreadable;
        if (e.records().isEmpty())
            held.kind = Held::Kind::Unreadable;
        return held;
    }
    for (query.first(); !query.atEnd(); query.next())
        held.sets.append({query.field(QStringLiteral("DatabaseName")),
                          is2000 ? QString() : query.field(QStringLiteral("FamilyGUID")),
                          query.field(QStringLiteral("BackupFinishDate"))});
    query.close();
    held.kind = held.sets.isEmpty() ? Held::Kind::NoBackup : Held::Kind::Sets;
    return held;
}

QString question(const QString& database, const QString& path, const Held& held,
                 const std::function<bool(const Set&)>& own) {
    const QString replaced =
        QStringLiteral("Копіювання бази даних %1 замінить увесь вміст цього файлу. Перезаписати його?")
            .arg(database);
    switch (held.kind) {
    case Held::Kind::Nothing:
        return {};
    case Held::Kind::NoBackup:
        return QStringLiteral(
                   "Файл %1 уже є, але це не резервна копія бази даних: сервер не знаходить у ньому "
                   "жодного набору резервної копії.\n")
                   .arg(path) +
               replaced;
    case Held::Kind::Unreadable:
        return QStringLiteral("Файл %1 уже є, але що в ньому, з'ясувати не вдалося: сервер не може його "
                              "прочитати.\n")
                   .arg(path) +
               replaced;
    case Held::Kind::Sets:
        break;
    }
    QStringList others;
    for (const Set& s : held.sets) {
        if (own(s))
            continue;
        const QString named =
            s.finishDate.isEmpty()
                ? s.database
                : QStringLiteral("%1 від %2").arg(s.database, restoreplan::shownDate(s.finishDate));
        if (!others.contains(named))
            others << named;
    }
    if (others.isEmpty())
        return {};
    return QStringLiteral("Файл %1 містить резервну копію іншої бази даних: %2.\n")
               .arg(path, others.join(QLatin1String(", "))) +
           replaced;
}

} // namespace backuptarget
