// Backup page: a full backup of a listed database into a chosen file.
#include "FMain.h"

#include "BackupOperation.h"
#include "BackupThroughShared.h"
#include "BackupVerification.h"
#include "ErrorAdvice.h"
#include "FileChecks.h"
#include "Journal.h"
#include "LongOperation.h"
#include "ModalSeam.h"
#include "OperationPlan.h"
#include "OperationRun.h"
#include "SharedCopy.h"
#include "SharedFolder.h"
#include "ui_FMain.h"

namespace {

// The field keeps the path last chosen in the server's own file dialog: this computer cannot check
// it, and need not.
const char* const kServerPath = "zelvaroServerPath";

bool chosenOnServer(const QLineEdit* field) {
    const QString onServer = field->property(kServerPath).toString();
    return !onServer.isEmpty() && onServer == field->text();
}

ops::backup::TargetSeen::Reach targetReach(Reach reach) {
    switch (reach) {
    case Reach::Reached:
        return ops::backup::TargetSeen::Reach::Reached;
    case Reach::Refused:
        return ops::backup::TargetSeen::Reach::Refused;
    case Reach::Unknown:
        break;
    }
    return ops::backup::TargetSeen::Reach::Unknown;
}

// A button greyed out for a path whose folder this computer does not have says why on it: the path
// may be the server's own (a container, another machine), which only the server's file dialog,
// opened by the button beside the field, can choose.
void sayWhyGreyed(QPushButton* button, const QLineEdit* field) {
    const QString folder = filechecks::folderPart(field->text());
    button->setToolTip(button->isEnabled() || field->text().size() <= 4 || chosenOnServer(field)
                           ? QString()
                           : QStringLiteral("Каталогу %1 на цьому комп'ютері немає. Якщо це каталог на сервері, "
                                            "виберіть файл кнопкою поруч із полем: вона покаже теки сервера.")
                                 .arg(folder.isEmpty() ? field->text() : folder));
}

// The backup and its check go to the server under one progress dialog, as one long operation with
// its follow-up: the backup's statement is held until its check is sent, so that a cancel and a
// failure are told as the backup's or as the check's, and the check begins only on a complete file.
class BackupExecutor : public WindowExecutor {
public:
    BackupExecutor(QWidget* window, AdoQuery& query, longop::Operation backingUp, longop::FollowUp check)
        : WindowExecutor(window, query, backingUp), m_window(window), m_query(query),
          m_backingUp(std::move(backingUp)), m_check(std::move(check)) {}
    void send(const ops::Statement& statement) override {
        if (m_backup.isEmpty()) {
            m_backup = statement.text;
            return;
        }
        m_check.statement = statement.text;
        m_query.close();
        m_query.setText(m_backup);
        longop::run(m_window, m_query, m_backingUp, m_check);
        m_query.close();
    }

private:
    QWidget* m_window;
    AdoQuery& m_query;
    longop::Operation m_backingUp;
    longop::FollowUp m_check;
    QString m_backup;
};

// A backup cut short or found damaged in the shared folder is not the user's: it goes.
QString removedFromShared(const QString& chosen) {
    return QStringLiteral("\nКопію зі спільної теки вилучено, до %1 її не перенесено.").arg(chosen);
}

} // namespace

void TMain::openBackupPage() {
    FillDatabaseCombo(ui->cbDataBase1);
    ui->BitBtn5->setEnabled(false);
}

void TMain::SpeedButton6Click() {
    // A server that sees none of this computer's files (a container, another machine) writes where
    // it can: its own folders are offered, and what is chosen there goes to it unchanged.
    if (!serverSeesThisComputer()) {
        const QString chosen =
            pickServerFile(QStringLiteral("Резервна копія на сервері"), {QStringLiteral("bak")}, ui->edSavePathBAK->text());
        if (chosen.isEmpty())
            return;
        ui->edSavePathBAK->setProperty(kServerPath, chosen);
        ui->edSavePathBAK->setText(chosen);
        ui->BitBtn5->setEnabled(true);
        return;
    }
    modal::Request request;
    request.kind = modal::Kind::SaveFile;
    request.caption = QStringLiteral("Збереження");
    request.defaultExtension = QStringLiteral("*.bak");
    request.filter = QStringLiteral("Файли резервної копії бази (*.bak)|*.bak");
    request.filterIndex = 1;
    request.directory = QStringLiteral(".");
    const modal::Answer answer = modal::pickFile(request);
    if (!answer.path || answer.path->isEmpty())
        return;
    ui->edSavePathBAK->setText(*answer.path);
    if (filechecks::folderExists(filechecks::folderPart(ui->edSavePathBAK->text())))
        ui->BitBtn5->setEnabled(true);
}

void TMain::edSavePathBAKChange() {
    const QString path = ui->edSavePathBAK->text();
    if (path.size() > 4)
        ui->BitBtn5->setEnabled(chosenOnServer(ui->edSavePathBAK) ||
                                filechecks::folderExists(filechecks::folderPart(path)));
    sayWhyGreyed(ui->BitBtn5, ui->edSavePathBAK);
}

void TMain::cbDataBase1Change() {
    // A path typed before the database was chosen (or kept from the page's last visit) counts as
    // much as one typed after.
    if (ui->cbDataBase1->currentIndex() >= 0 && ui->edSavePathBAK->text().size() > 4 &&
        (chosenOnServer(ui->edSavePathBAK) ||
         filechecks::folderExists(filechecks::folderPart(ui->edSavePathBAK->text()))))
        ui->BitBtn5->setEnabled(true);
    sayWhyGreyed(ui->BitBtn5, ui->edSavePathBAK);
}

void TMain::BitBtn5Click() {
    const QString name = ui->cbDataBase1->currentText();
    const QString path = ui->edSavePathBAK->text();
    // The server writes the file, so the server says whether its folder is there; without a
    // connection this computer's view is all there is.
    const bool seenHere = filechecks::folderExists(filechecks::folderPart(path));
    if (!seenHere && !ADOConnection->isOpen())
        return;
    // Goes on whatever the connection came to: the statement opens it again itself, and a failure
    // there is reported as the backup's own.
    connectIfClosed();
    ops::backup::Request request;
    request.database = name;
    request.path = path;
    request.assume2000 = serverIs2000();
    request.seen = {ops::backup::TargetSeen::Reach::Unknown, {}, false, filechecks::folderPart(path)};
    serverfiles::ServerFiles files = serverFiles();
    OperationPlan asked = newPlan(OperationPlan::Kind::Backup, name);
    asked.write(path);
    if (ADOConnection->isOpen()) {
        askServerAbout(asked, files);
        request.seen.reach = targetReach(asked.files.first().reach);
        request.seen.refusal = asked.refusal();
        request.seen.fileThere = fileSeen(files, path);
        try {
            request.seen.serverFolder = serverfiles::folderOf(path, files.platform());
        } catch (const DbError&) {
        }
        if (request.seen.reach != ops::backup::TargetSeen::Reach::Refused)
            request.sharesThisComputer = serverSeesThisComputer();
        if (backupshared::offered(asked)) {
            request.serverAccount = asked.serverAccount;
            request.sharedExample = sharedFolderPlaces().first();
            request.sharedFile = [&] { return backupshared::prepare(asked, files, path); };
        }
    }
    if (request.seen.reach == ops::backup::TargetSeen::Reach::Unknown && !seenHere)
        return;
    ops::Server here = server();
    const ops::Plan chosen = ops::backup::plan(request, here);
    const ops::Plan* plan = &chosen;
    if (!chosen.remedies.empty()) {
        // The question shows what Yes sends: the shared folder's path, not the one refused.
        const ops::Remedy& remedy = chosen.remedies.front();
        if (!modal::confirm(chosen.stop + QLatin1Char('\n') + remedy.offer, remedy.plan->shown()))
            return;
        plan = remedy.plan.get();
        if (!plan->stop.isEmpty()) {
            modal::messageDialog(plan->stop, DialogType::Error, {DialogButton::OK});
            return;
        }
    } else if (!chosen.stop.isEmpty()) {
        if (request.seen.reach == ops::backup::TargetSeen::Reach::Refused)
            modal::messageDialog(chosen.stop, DialogType::Error, {DialogButton::OK}, chosen.shown());
        else
            modal::messageDialog(chosen.stop, DialogType::Error, {DialogButton::OK});
        return;
    }
    const QString confirmation = ops::backup::confirmation(*plan);
    if (!confirmation.isEmpty() && !modal::confirm(confirmation, plan->shown()))
        return;
    runBackup(*plan, name, path);
}

void TMain::runBackup(const ops::Plan& plan, const QString& name, const QString& path) {
    const bool throughShared = ops::backup::throughShared(plan);
    const QString written = ops::backup::writtenAt(plan);
    // Nothing of ours stays in the shared folder, whatever the backup comes to; the moved copy is
    // the user's own file.
    struct CrossOutLeft {
        QList<ops::JournalEntry> left;
        ~CrossOutLeft() {
            for (const ops::JournalEntry& entry : left)
                ops::journal().crossOut(entry.id);
        }
    } crossOut; // after the copy below is gone: declared before it
    std::unique_ptr<SharedCopy> inShared = throughShared ? std::make_unique<SharedCopy>(written) : nullptr;
    ops::Server here = server();
    const ops::backup::Sets before = ops::backup::before(plan, here);
    longop::Operation backingUp = longop::backup(name, written);
    backingUp.ask = [this, &plan, before] {
        ops::Server now = server();
        return ops::backup::outcome(plan, now, before) == ops::Outcome::Done ? longop::Left::Done
                                                                             : longop::Left::NotDone;
    };
    // Runs to the end of the server's messages: the file is complete when the check starts.
    BackupExecutor executor(this, *ADOQuery1, backingUp,
                            verification::afterBackup(name, written, 1, !serverIs2000()));
    const ops::Ran ran = operationrun::run(this, plan, executor);
    // The journal's copy in the shared folder: crossed out once `inShared` has removed it.
    crossOut.left = ran.left;
    if (!ran.done) {
        try {
            std::rethrow_exception(ran.stopped);
        } catch (const longop::FollowUpFailed& e) {
            // Written, but not as it was meant to be: never the success message.
            modal::messageDialog(erroradvice::appended(e) +
                                     (throughShared ? removedFromShared(path) : QString()),
                                 DialogType::Error, {DialogButton::OK});
            return;
        } catch (const DbError& e) {
            // Refused the file (error 5), nothing written: planned again, the same offer as the checks'.
            if (!throughShared)
                if (const auto again = deniedByServer(e, {path})) {
                    BitBtn5Click();
                    return;
                }
            modal::simpleMessage(erroradvice::appended(e) +
                                 (throughShared ? removedFromShared(path) : QString()));
            return;
        } catch (OperationCancelled& e) {
            if (throughShared)
                e.message += removedFromShared(path);
            throw;
        }
    }
    if (throughShared) {
        // The runner crossed the copy out with the plan done; it stays written down until moved.
        ops::JournalEntry copy = plan.leaves.first();
        if (ops::journal().write(copy))
            crossOut.left << copy;
        try {
            moveToChosenPath(this, written, path);
        } catch (const FileTransferFailed& e) {
            // The verified backup stays where the server wrote it: the message says where.
            inShared->keep();
            modal::messageDialog(QString::fromStdString(e.what()), DialogType::Error, {DialogButton::OK});
            return;
        } catch (const OperationCancelled&) {
            inShared->keep();
            throw;
        }
    }
    modal::messageDialog(QStringLiteral("Створення резервної копії бази даних ") + name +
                             QStringLiteral(" успішно виконано.") + QLatin1Char('\n') +
                             verification::checkedLine(),
                         DialogType::Information, {DialogButton::OK});
}
