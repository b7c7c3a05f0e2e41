// The success message that tells and mends what a database brought from another server
// (ArrivedOffer.h).
#include "ArrivedOffer.h"

#include "AdoQuery.h"
#include "ArrivedDatabase.h"
#include "DbError.h"
#include "ErrorAdvice.h"
#include "ModalSeam.h"

namespace arrivedoffer {

namespace ad = arriveddatabase;

namespace {

QString sidText(const QByteArray& sid) {
    return QLatin1String("0x") + QString::fromLatin1(sid.toHex().toUpper());
}

// What the database brought, a line each.
QString told(const ad::Findings& f) {
    QStringList lines;
    for (const ad::OrphanedUser& u : f.users) {
        if (u.windows)
            lines << QStringLiteral(
                         "• %1 — користувач Windows без входу на цьому сервері; Zelvaro його не змінює.")
                         .arg(u.name);
        else if (u.loginOfName)
            lines
                << QStringLiteral(
                       "• %1 — вхід з таким ім'ям тут є, але з іншим SID: користувача можна зіставити з ним.")
                       .arg(u.name);
        else
            lines << QStringLiteral(
                         "• %1 — входу з таким ім'ям тут немає: його можна створити з SID користувача "
                         "(%2) і паролем, який ви введете.")
                         .arg(u.name, sidText(u.sid));
    }
    QString text;
    if (!lines.isEmpty())
        text = QStringLiteral(
                   "Користувачі бази даних, чиї SID не відповідають жодному входу цього сервера "
                   "(база даних, мабуть, з іншого сервера), тож програми під ними її не відкриють:\n") +
               lines.join(QLatin1Char('\n'));
    if (f.ownerUnknown)
        text +=
            (text.isEmpty() ? QString() : QStringLiteral("\n")) +
            QStringLiteral("Власник бази даних (SID %1) — не вхід цього сервера.").arg(sidText(f.ownerSid));
    return text;
}

// The users' state once more, as the server now answers.
QString after(AdoQuery& query, int major, const ad::Findings& before) {
    const ad::Findings now = ad::find(query, before.database, major);
    QStringList lines;
    for (const ad::OrphanedUser& u : before.users) {
        if (u.windows)
            continue;
        bool still = false;
        for (const ad::OrphanedUser& n : now.users)
            still = still || n.name == u.name;
        lines << (still ? QStringLiteral("• %1 — досі без входу.")
                        : QStringLiteral("• %1 — тепер має вхід %1."))
                     .arg(u.name);
    }
    if (before.ownerUnknown)
        lines << (now.ownerUnknown ? QStringLiteral("• Власник бази даних досі невідомий цьому серверу.")
                                   : QStringLiteral("• Власник бази даних — вхід цього сервера."));
    return QStringLiteral("Сервер каже:\n") + lines.join(QLatin1Char('\n'));
}

// Runs a statement; false after telling its error.
bool run(AdoQuery& query, const ad::Statement& s) {
    try {
        query.close();
        query.setLines(s.sent);
        query.execute();
        return true;
    } catch (const DbError& e) {
        modal::messageDialog(erroradvice::appended(e), DialogType::Error, {DialogButton::OK});
        return false;
    }
}

} // namespace

void tell(AdoQuery& query, int major, const QString& database, const QString& done) {
    ad::Findings f;
    try {
        f = ad::find(query, database, major);
    } catch (const DbError&) {
        // A server that cannot say (a login without the rights to read the catalog) is not asked again.
    }
    if (!f.anything()) {
        modal::messageDialog(done, DialogType::Information, {DialogButton::OK});
        return;
    }
    // The users first, on one Yes: every user whose login exists is mapped, every other gets a login
    // with its own SID when a password is typed for it. The T-SQL shows each password as stars.
    ad::Choices all;
    for (const ad::OrphanedUser& u : f.users)
        if (!u.windows && !u.loginOfName)
            all.passwords.insert(u.name, QString());
    const ad::Statement planned = ad::fixes(f, all, major);
    const QString text = done + QStringLiteral("\n\n") + told(f);
    if (planned.isEmpty()) {
        if (!f.ownerUnknown)
            modal::messageDialog(text, DialogType::Information, {DialogButton::OK});
    } else if (modal::confirm(text +
                                  QStringLiteral("\n\nЗіставити користувачів із входами та створити відсутні "
                                                 "входи? Пароль кожного нового входу буде запитано."),
                              planned.shown.join(QLatin1Char('\n')))) {
        ad::Choices chosen;
        for (const ad::OrphanedUser& u : f.users) {
            if (u.windows || u.loginOfName)
                continue;
            const std::optional<QString> password = modal::askPassword(
                QStringLiteral(
                    "Пароль нового входу %1 (з SID користувача). Скасуйте, щоб залишити користувача "
                    "без входу.")
                    .arg(u.name));
            if (password)
                chosen.passwords.insert(u.name, *password);
        }
        const ad::Statement fix = ad::fixes(f, chosen, major);
        if (!fix.isEmpty() && run(query, fix))
            modal::messageDialog(after(query, major, f), DialogType::Information, {DialogButton::OK});
    }
    if (!f.ownerUnknown)
        return;
    // The owner apart: sa is on every server and is what administrators make the owner.
    ad::Findings ownerOnly = f;
    ownerOnly.users.clear();
    ad::Choices owner;
    owner.newOwner = QStringLiteral("sa");
    const ad::Statement change = ad::fixes(ownerOnly, owner, major);
    const QString question = (planned.isEmpty() ? text + QStringLiteral("\n\n") : QString()) +
                             QStringLiteral("Власник бази даних %1 (SID %2) — не вхід цього сервера. Зробити "
                                            "власником sa?")
                                 .arg(database, sidText(f.ownerSid));
    if (modal::confirm(question, change.shown.join(QLatin1Char('\n'))) && run(query, change))
        modal::messageDialog(after(query, major, ownerOnly), DialogType::Information, {DialogButton::OK});
}

} // namespace arrivedoffer
