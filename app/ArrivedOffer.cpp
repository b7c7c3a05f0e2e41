// The success message that tells and mends what a database brought from another server
// (ArrivedOffer.h).
#include "ArrivedOffer.h"

#include "AdoQuery.h"
#include "ArrivedDatabaseOperation.h"
#include "DbError.h"
#include "ErrorAdvice.h"
#include "ModalSeam.h"
#include "OperationRun.h"

#include <QApplication>

namespace arrivedoffer {

namespace ar = ops::arrived;

namespace {

// Runs a confirmed plan and tells what the server says after it, the error that stopped it first.
void runAndTell(AdoQuery& query, const ops::Plan& plan, const ar::Findings& before) {
    // Its statements are short: the window only stands behind the round trips' wait.
    QWidget* window = QApplication::activeWindow();
    WindowExecutor executor(window, query);
    const ops::Ran ran = operationrun::run(window, plan, executor);
    QString failed;
    if (!ran.done) {
        try {
            std::rethrow_exception(ran.stopped);
        } catch (const DbError& e) {
            failed = erroradvice::appended(e) + QStringLiteral("\n\n");
        }
    }
    const QString now =
        QStringLiteral("Сервер каже:\n") + ar::outcome(plan, before, query).join(QLatin1Char('\n'));
    modal::messageDialog(failed + now, failed.isEmpty() ? DialogType::Information : DialogType::Error,
                         {DialogButton::OK});
}

// intro: what comes before the findings (the operation's success text), or nothing.
void offer(AdoQuery& query, const ar::Findings& f, const QString& intro) {
    const QString text = (intro.isEmpty() ? QString() : intro + QStringLiteral("\n\n")) + ar::told(f);
    // The passwords first, each typed or the user left: the one confirmation then shows exactly the
    // statements its Yes sends, each password as stars.
    QMap<QString, QString> passwords;
    bool first = true;
    for (const ar::OrphanedUser& u : f.users) {
        if (!u.needsLogin())
            continue;
        const QString ask =
            QStringLiteral(
                "Пароль нового входу %1 (з SID користувача). Скасуйте, щоб залишити користувача без входу.")
                .arg(u.name);
        const std::optional<QString> password =
            modal::askPassword(first ? text + QStringLiteral("\n\n") + ask : ask);
        first = false;
        if (password)
            passwords.insert(u.name, *password);
    }
    const ops::Plan users = ar::users(f, passwords);
    ar::Findings now = f;
    if (users.statements.isEmpty()) {
        if (!f.ownerUnknown || f.owners.isEmpty())
            modal::messageDialog(text, DialogType::Information, {DialogButton::OK});
    } else if (modal::confirm(text + QStringLiteral("\n\n") + users.question, users.shown())) {
        runAndTell(query, users, f);
        // The owner's plan from what the server holds now: a login just given its user can no longer
        // be the owner.
        now = ar::find(query, f.database, f.majorVersion);
    }
    // The owner apart, one login at a time: sa first, then the login the user connected as.
    const QStringList owners = f.ownerUnknown && now.ownerUnknown ? now.owners : QStringList();
    for (qsizetype i = 0; i < owners.size(); ++i) {
        const ops::Plan owner = ar::owner(now, owners[i]);
        QString question = owner.question;
        if (i == 0 && users.statements.isEmpty())
            question = text + QStringLiteral("\n\n") + question;
        if (i + 1 < owners.size())
            question += QStringLiteral("\nНі — буде запропоновано вхід %1, під яким ви підключені.")
                            .arg(owners[i + 1]);
        if (modal::confirm(question, owner.shown())) {
            runAndTell(query, owner, f);
            return;
        }
    }
}

} // namespace

void tell(AdoQuery& query, int major, const QString& database, const QString& done) {
    ar::Findings f;
    try {
        f = ar::find(query, database, major);
    } catch (const DbError&) {
        // A server that cannot say (a login without the rights to read the catalog) is not asked again.
    }
    if (!f.anything()) {
        modal::messageDialog(done, DialogType::Information, {DialogButton::OK});
        return;
    }
    offer(query, f, done);
}

void check(AdoQuery& query, int major, const QString& database) {
    const ar::Findings f = ar::find(query, database, major);
    if (!f.anything()) {
        modal::messageDialog(
            QStringLiteral("Усі користувачі бази даних %1 мають входи на цьому сервері, і її "
                           "власник — вхід цього сервера.")
                .arg(database),
            DialogType::Information, {DialogButton::OK});
        return;
    }
    offer(query, f, QString());
}

} // namespace arrivedoffer
