// Attach page: a data file and a log file attached under a name, an older database of that name
// detached first.
#include "FMain.h"

#include "AccessDenied.h"
#include "ArrivedOffer.h"
#include "AttachOperation.h"
#include "ErrorAdvice.h"
#include "FileChecks.h"
#include "Journal.h"
#include "LongOperation.h"
#include "ModalSeam.h"
#include "OperationPlan.h"
#include "OperationRun.h"
#include "SharedCopy.h"
#include "SingleUser.h"
#include "UserAccessNote.h"
#include "ui_FMain.h"

#include <QFileInfo>

void TMain::SpeedButton2Click() {
    // A server that sees none of this computer's files (a container, another machine) offers its
    // own: a file chosen here would mean nothing to it.
    if (!serverSeesThisComputer()) {
        const QString chosen =
            pickServerFile(QStringLiteral("Файл бази даних на сервері"), {QStringLiteral("mdf")}, ui->edPathMDF->text());
        if (!chosen.isEmpty())
            ui->edPathMDF->setText(chosen);
        return;
    }
    const QString chosen = OpenDialog1.execute(
        QStringLiteral("*.mdf"), QStringLiteral("Файли бази даних (*.MDF)|*.mdf|Всі файли (*.*)|*.*"),
        ui->edPathMDF->text());
    if (chosen.isEmpty())
        return;
    ui->edPathMDF->setText(chosen);
    // The dialog left the working directory at the chosen file's folder.
    const QString log = filechecks::firstMatchingEntry(QStringLiteral("."), QStringLiteral("*.ldf"));
    if (!log.isEmpty())
        ui->edPathLDF->setText(filechecks::folderPrefix(ui->edPathMDF->text()) + log);
}

void TMain::SpeedButton3Click() {
    if (!serverSeesThisComputer()) {
        const QString chosen =
            pickServerFile(QStringLiteral("Файл журналу на сервері"), {QStringLiteral("ldf")}, ui->edPathLDF->text());
        if (!chosen.isEmpty())
            ui->edPathLDF->setText(chosen);
        return;
    }
    const QString chosen = OpenDialog1.execute(
        QStringLiteral("*.ldf"), QStringLiteral("Файли журналу бази даних (*.LDF)|*.ldf|Всі файли (*.*)|*.*"),
        ui->edPathLDF->text());
    if (!chosen.isEmpty())
        ui->edPathLDF->setText(chosen);
}

void TMain::BitBtn1Click() {
    AttachDatabase(ui->cbDatabase->text(), ui->edPathMDF->text(), ui->edPathLDF->text());
}

namespace {

// Runs the plan on the window's executor, noting which statements reached the server and went
// through: the put-back's words depend on whether the detach and the older database's attach did.
class AttachExecutor : public WindowExecutor {
public:
    using WindowExecutor::WindowExecutor;
    void send(const ops::Statement& statement) override {
        WindowExecutor::send(statement);
        wentThrough << statement.text;
    }
    QStringList wentThrough;
};

QString joined(const QString& a, const QString& b) {
    return a.isEmpty() ? b : b.isEmpty() ? a : a + QLatin1Char('\n') + b;
}

} // namespace

bool TMain::AttachDatabase(const QString& Name, const QString& MdfPath, const QString& LdfPath) {
    if (!connectedOrConnect())
        return false;
    // The server opens the files, so the server says whether they are there: a path this computer
    // cannot see may be the server's own, and one it sees may be closed to the server.
    serverfiles::ServerFiles files = serverFiles();
    OperationPlan reach = newPlan(OperationPlan::Kind::Attach, Name);
    reach.read(MdfPath);
    askServerAbout(reach, files);
    if (reach.files.first().reach == Reach::Unknown && !filechecks::fileExists(MdfPath))
        return false;
    const QString logPath =
        fileSeen(files, LdfPath)
            ? LdfPath
            : filechecks::folderPrefix(MdfPath) + filechecks::trimmed(Name) + QLatin1String("_Log.LDF");
    // Naming a log file that is not there makes every server refuse the attach. Without one the
    // data file is attached alone and the server builds a new log; where it puts it is its own choice.
    const bool withoutLog = !fileSeen(files, logPath);
    if (!withoutLog)
        reach.read(logPath);
    else if (logPath != LdfPath && filechecks::fileExists(LdfPath))
        // The log this computer sees and the server does not: the user is told of it too, rather
        // than have the database attached without it.
        reach.read(LdfPath);
    if (reach.files.size() > 1)
        askServerAbout(reach, files);
    // A log only this computer sees goes with the data file when the files are copied for the server.
    const QString copiedLog = !withoutLog ? logPath : reach.files.size() > 1 ? LdfPath : QString();

    ops::Server here = server();
    const ops::attach::Planned planned =
        ops::attach::plan({Name, MdfPath, withoutLog ? QString() : logPath}, here);
    ops::Plan plan = planned.plan;
    QString copyProblem;
    std::optional<ops::Plan> copyPlan;
    // A copy needs a folder the server can use, which needs its account known here.
    const auto offerCopies = [&] { copyPlan = planAttachCopies(planned, copiedLog, reach, copyProblem); };
    if (!plan.stop.isEmpty()) {
        modal::messageDialog(plan.stop, DialogType::Error, {DialogButton::OK}, plan.shown());
        return false;
    }
    if (reach.refused()) {
        const QStringList refused = reach.refusedPaths(FileUse::Read);
        bool copyable = reach.serverUid >= 0 && !refused.isEmpty();
        for (const QString& path : refused)
            copyable = copyable && QFileInfo(path).isFile(); // nothing here to copy: the refusal stands
        if (!copyable) {
            modal::messageDialog(reach.refusal(), DialogType::Error, {DialogButton::OK}, plan.shown());
            return false;
        }
        offerCopies();
        const QString offer =
            QStringLiteral(
                "Скопіювати файли бази даних у теку, яку бачать і ви, і сервер (%1), і приєднати копію? "
                "Приєднана база даних працює зі своїми файлами весь час, тож вона залишиться там; ваші "
                "файли залишаться як є.")
                .arg(reach.serverAccount);
        if (!modal::confirm(reach.refusal() + QLatin1Char('\n') + offer,
                            copyPlan ? copyPlan->shown() : plan.shown()))
            return false;
        if (!copyPlan) {
            modal::messageDialog(copyProblem, DialogType::Error, {DialogButton::OK});
            return false;
        }
        plan = *copyPlan;
    }
    // Whoever is inside the older database of the name is named, and put out on Yes.
    if (!plan.question.isEmpty() && !modal::confirm(plan.question, plan.shown()))
        return false;
    if (!planned.upgrade.isEmpty() && plan.copies.isEmpty()) {
        if (reach.serverUid < 0) {
            if (!modal::confirm(planned.upgrade + QStringLiteral("\nПриєднати ці файли й оновити їх?"),
                                plan.shown()))
                return false;
        } else {
            offerCopies();
            // Yes sends the copies' T-SQL, Ignore the files' own: both are shown.
            const QString shown =
                copyPlan ? copyPlan->shown() + QStringLiteral("\n-- Ігнорувати:\n") + plan.shown()
                         : plan.shown();
            const int answer = modal::messageDialog(
                planned.upgrade +
                    QStringLiteral("\nТак — приєднати копію файлів у теці, яку бачать і ви, і сервер, а ці "
                                   "залишити як є.\n"
                                   "Ігнорувати — приєднати самі ці файли, і сервер їх оновить.\n"
                                   "Ні — нічого не робити."),
                DialogType::Confirmation, {DialogButton::Yes, DialogButton::Ignore, DialogButton::No}, shown);
            if (answer == msgdlg::resultOf(DialogButton::Yes)) {
                if (!copyPlan) {
                    modal::messageDialog(copyProblem, DialogType::Error, {DialogButton::OK});
                    return false;
                }
                plan = *copyPlan;
            } else if (answer != msgdlg::resultOf(DialogButton::Ignore)) {
                return false;
            }
        }
    }
    // Copies of the files, when the user chose to attach those: removed unless the server may have
    // attached them; in the journal from before each is made until the outcome is known.
    std::vector<std::unique_ptr<SharedCopy>> copies;
    QStringList journalled;
    struct CrossOut {
        QStringList& ids;
        ~CrossOut() {
            for (const QString& id : ids)
                ops::journal().crossOut(id);
        }
    } crossOut{journalled};
    if (!plan.copies.isEmpty()) {
        if (!makeAttachCopies(plan, planned, copies, journalled))
            return false;
        // Relied on only once the server says it reaches the copies.
        OperationPlan copied = newPlan(OperationPlan::Kind::Attach, Name);
        for (const ops::FileCopy& c : plan.copies)
            copied.read(c.path);
        askServerAbout(copied, files);
        if (copied.refused()) {
            copies.clear();
            modal::messageDialog(copied.refusal(), DialogType::Error, {DialogButton::OK});
            return false;
        }
    }
    const QString attachedMdf = plan.copies.isEmpty() ? MdfPath : plan.copies.first().path;
    // The files a failure message may name: the ones the statement names.
    QStringList named = {MdfPath, logPath};
    if (!plan.copies.isEmpty()) {
        named.clear();
        for (const ops::FileCopy& c : plan.copies)
            named << c.path;
    }

    ADOConnection->setDefaultDatabase(QStringLiteral("master"));
    if (!connectedOrConnect())
        return false;
    longop::Operation attaching = longop::attach(Name);
    attaching.ask = [this, &plan] {
        ops::Server now = server();
        // Unknown: the server could not say, and the user is told what it may have left.
        return operationrun::leftBy(ops::attach::outcome(plan, now));
    };
    // The copies go only when the server surely did not attach them: after any other ending they
    // may be the database's files now.
    const auto keepCopies = [&](ops::Outcome outcome) {
        QStringList paths;
        if (outcome == ops::Outcome::NotDone)
            return paths;
        for (const auto& copy : copies) {
            copy->keep();
            paths << copy->path();
        }
        return paths;
    };
    AttachExecutor executor(this, *ADOQuery1, attaching);
    ops::Ran ran;
    try {
        ran = operationrun::run(this, plan, executor);
    } catch (const OperationCancelled&) {
        // The window closed on the attach: the server is asked before the copies are let go.
        ops::Server now = server();
        keepCopies(ops::attach::outcome(plan, now));
        throw;
    }
    ops::Outcome outcome = ops::Outcome::Done;
    if (!ran.done) {
        ops::Server now = server();
        outcome = ops::attach::outcome(plan, now);
    }
    const QStringList keptCopies = keepCopies(outcome);
    const QString kept = ran.done || keptCopies.isEmpty()
                             ? QString()
                             : QStringLiteral("Сервер міг приєднати копії файлів, тому їх не вилучено: %1.")
                                   .arg(keptCopies.join(QLatin1String(", ")));
    if (!ran.done && outcome != ops::Outcome::Done) {
        // What became of the older database, by the server's word.
        QString older;
        if (!planned.olderFiles.isEmpty()) {
            const QString files = planned.olderFiles.join(QLatin1String(", "));
            const bool detached =
                executor.wentThrough.contains(plan.statements[plan.othersInside.isEmpty() ? 0 : 1].text);
            const bool attachedAgain =
                !plan.putBack.isEmpty() && executor.wentThrough.contains(plan.putBack.first().text);
            bool there = false;
            bool answered = true;
            try {
                there = ops::databaseExists(*ADOQuery1, Name);
            } catch (const DbError&) {
                answered = false;
            }
            if (!answered)
                older = QStringLiteral(
                            "Сервер не відповів, чи залишилася на ньому попередня база даних %1; якщо її "
                            "немає у списку баз даних, приєднайте її файли вручну: %2.")
                            .arg(Name, files);
            else if (!there)
                older =
                    QStringLiteral("Попередню базу даних %1 не вдалося приєднати знову; приєднайте її файли "
                                   "вручну: %2.")
                        .arg(Name, files);
            else if (!detached && !attachedAgain) {
                // Refused, and the database is there as it was: the plain error, nothing was put back.
                try {
                    std::rethrow_exception(ran.stopped);
                } catch (const DbError& e) {
                    if (!e.endedConnection())
                        throw;
                }
                older = QStringLiteral("Базу даних %1 не від'єднано: вона залишилася на сервері.").arg(Name);
            } else if (!ran.left.isEmpty() && !ran.putBackFailed.isEmpty())
                older = QStringLiteral(
                            "Попередню базу даних %1 приєднано знову, але вона залишилася доступною лише "
                            "одному з'єднанню: сервер не виконав %2 (%3). Виконайте цю інструкцію, коли "
                            "сервер буде доступний.")
                            .arg(Name, ops::singleuser::multiUser(Name), ran.putBackFailed);
            else
                older = QStringLiteral("Попередню базу даних %1 приєднано знову.").arg(Name);
        }
        // The older database's files are told here: the journal need not tell them again.
        for (const ops::JournalEntry& left : ran.left)
            if (left.kind == ops::JournalEntry::Kind::Detached)
                ops::journal().crossOut(left.id);
        const QString afterword = joined(kept, older);
        try {
            std::rethrow_exception(ran.stopped);
        } catch (OperationCancelled& cancelled) {
            if (!afterword.isEmpty())
                cancelled.message += QLatin1Char('\n') + afterword;
            throw;
        } catch (const DbError& e) {
            // Refused a file (error 5), and no older database detached for it nor copies made:
            // planned again, the same offer as the checks'.
            if (planned.olderFiles.isEmpty() && plan.copies.isEmpty() && !e.endedConnection())
                if (const auto again = deniedByServer(e, named))
                    return AttachDatabase(Name, MdfPath, LdfPath);
            // Why a data file alone could not be attached is told by the advice line of its error.
            reportFileFailure(e, QStringLiteral("Не можливо підключити фізичний файл "), named, afterword);
        } catch (const std::exception& e) {
            reportFileFailure(DbError(QString::fromLocal8Bit(e.what())),
                              QStringLiteral("Не можливо підключити фізичний файл "), named, afterword);
        }
        return false;
    }
    // Attached, by the server's word even where the statement ended in an error: a server may send
    // the new log's notice of a data file attached alone as an error. The copies are its files now.
    QString done =
        QStringLiteral("База даних ") + Name + QStringLiteral(" успішно приєднана із файлу ") + attachedMdf;
    if (!copies.empty())
        done += QLatin1Char('\n') +
                QStringLiteral("Приєднано копію файлів; файли %1 залишилися як були.").arg(MdfPath);
    if (plan.copies.isEmpty() ? withoutLog : copiedLog.isEmpty()) {
        // The server tells where it built the log only in a message meant for people: the file
        // list says it in every language.
        // The database is attached whatever this read comes to: a failed read only leaves the path out.
        QStringList logs;
        try {
            logs = databaseFiles(Name, FileKinds::LogOnly);
        } catch (const DbError&) {
        }
        done += QLatin1Char('\n') + (logs.isEmpty()
                                         ? QStringLiteral("Файлу журналу не було; сервер створив новий.")
                                         : QStringLiteral("Файлу журналу не було; сервер створив новий: %1.")
                                               .arg(logs.join(QLatin1String(", "))));
    }
    if (!planned.olderFiles.isEmpty() && !plan.othersInside.isEmpty())
        done += QLatin1Char('\n') + useraccessnote::olderDetached(Name);
    // Files detached single-user come back single-user: the user is told, the mode left as it is.
    // The database is attached whatever this read comes to: a failed read only leaves the line out.
    QString access;
    try {
        access = useraccessnote::read(*ADOQuery1, Name);
    } catch (const DbError&) {
    }
    const QString accessLine = useraccessnote::afterAttach(Name, access);
    if (!accessLine.isEmpty())
        done += QLatin1Char('\n') + accessLine;
    // Users and an owner from another server are told, and mending them offered.
    arrivedoffer::tell(*ADOQuery1, ADOConnection->serverMajorVersion(), Name, done);
    return true;
}

// Operating-system error 5 gets our own message naming the file the server was refused (any of the
// statement's files); any other failure is shown in the server's words with the single Cancel
// button. An afterword, when given, follows on a line of its own.
void TMain::reportFileFailure(const DbError& error, const QString& cannotText, const QStringList& paths,
                              const QString& afterword) {
    const QString tail = afterword.isEmpty() ? QString() : QLatin1Char('\n') + afterword;
    const QString refused = accessdenied::refusedPath(error.message(), paths);
    if (!refused.isEmpty())
        modal::messageDialog(cannotText + refused + QLatin1Char('.') + QChar(13) +
                                 QStringLiteral("Помилка операційної системи 5: (Доступ заборонений.)") +
                                 tail,
                             DialogType::Error, {DialogButton::OK});
    else
        modal::messageDialog(erroradvice::appended(error) + tail, DialogType::Error, {DialogButton::Cancel});
}

QStringList TMain::databaseFiles(const QString& Name, FileKinds kinds) {
    return ops::attach::databaseFiles(*ADOQuery1, Name, serverIs2000(), kinds == FileKinds::LogOnly);
}

bool TMain::DatabaseExists(const QString& Name) {
    ADOConnection->setDefaultDatabase(QStringLiteral("master"));
    if (!connectedOrConnect())
        return false;
    useMaster();
    return ops::databaseExists(*ADOQuery1, Name);
}
