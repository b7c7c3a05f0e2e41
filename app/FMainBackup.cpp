// Backup page: a full backup of a listed database into a chosen file.
#include "FMain.h"

#include "BackupRoom.h"
#include "BackupStatements.h"
#include "BackupTarget.h"
#include "BackupThroughShared.h"
#include "BackupVerification.h"
#include "ErrorAdvice.h"
#include "FileChecks.h"
#include "LongOperation.h"
#include "ModalSeam.h"
#include "OperationPlan.h"
#include "ServerState.h"
#include "SharedCopy.h"
#include "ui_FMain.h"

#include <QFileInfo>

namespace {

// The field keeps the path last chosen in the server's own file dialog: this computer cannot check
// it, and need not.
const char* const kServerPath = "zelvaroServerPath";

bool chosenOnServer(const QLineEdit* field) {
    const QString onServer = field->property(kServerPath).toString();
    return !onServer.isEmpty() && onServer == field->text();
}

// Says a folder's lack of room, when there is one: true when it was said.
bool toldNoRoom(const QString& noRoom) {
    if (noRoom.isEmpty())
        return false;
    modal::messageDialog(noRoom, DialogType::Error, {DialogButton::OK});
    return true;
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
    // Goes on whatever the connection came to: the statement below opens it again itself, and a
    // failure there is reported as the backup's own.
    connectIfClosed();
    // From 2005 on the server checksums every page it writes, so the check afterwards finds a
    // changed byte anywhere in the file. And the copy is COPY_ONLY: a plain full backup would
    // become the base of the next differential backup of the site's own schedule, and once our
    // file is moved or deleted their chain could not be restored. 2000 knows neither option.
    const bool is2000 = serverIs2000();
    const bool checksum = !is2000;
    const auto statementFor = [&](const QString& target) {
        return backupsql::backup(name, target, checksum, !is2000);
    };
    OperationPlan plan = newPlan(OperationPlan::Kind::Backup, name);
    plan.write(path);
    plan.writes = {path};
    plan.statements = {statementFor(path)};
    serverfiles::ServerFiles files = serverFiles();
    QString serverFolder = filechecks::folderPart(path);
    if (ADOConnection->isOpen()) {
        askServerAbout(plan, files);
        backupshared::offer(plan, files, statementFor);
        try {
            serverFolder = serverfiles::folderOf(path, files.platform());
        } catch (const DbError&) {
        }
    }
    if (plan.files.first().reach == Reach::Unknown && !seenHere)
        return;
    if (!plan.refused()) {
        const backuproom::Room room = backuproom::check(*ADOQuery1, name, serverFolder, serverSeesThisComputer());
        if (toldNoRoom(room.refusal))
            return;
        if (!room.notChecked.isEmpty())
            plan.findings << room.notChecked;
    }
    // WITH INIT replaces whatever the file holds: anything but the database's own older backups is
    // asked about. The same database is the same name as the server compares names and, where both
    // sides name one (2005 on), the same family: a copy restored under another name keeps its family.
    if (ADOConnection->isOpen()) {
        try {
            const QString family = serverstate::familyGuid(*ADOQuery1, name, is2000);
            const auto own = [&](const backuptarget::Set& s) {
                return (family.isEmpty() || s.familyGuid.isEmpty() ||
                        family.compare(s.familyGuid, Qt::CaseInsensitive) == 0) &&
                       sameDatabase(name, s.database);
            };
            plan.question = backuptarget::question(
                name, path, backuptarget::read(*ADOQuery1, path, fileSeen(files, path), is2000), own);
        } catch (const DbError&) {
            if (filechecks::fileExists(path))
                plan.question = backuptarget::question(name, path, {backuptarget::Held::Kind::Unreadable, {}}, {});
        }
    }
    if (!confirmPlan(plan))
        return;
    const bool throughShared = !plan.backupWrittenAt.isEmpty();
    const QString written = throughShared ? plan.backupWrittenAt : path;
    // Nothing of ours stays in the shared folder, whatever the backup comes to; the moved copy is
    // the user's own file.
    std::unique_ptr<SharedCopy> inShared = throughShared ? std::make_unique<SharedCopy>(written) : nullptr;
    // The server writes into the shared folder, and this computer copies the file to the chosen
    // folder: both need the room.
    if (throughShared &&
        toldNoRoom(
            backuproom::check(*ADOQuery1, name, QFileInfo(written).path(), true, QFileInfo(path).path()).refusal))
        return;
    // What the file held before, as the server reads it: after a cancel only a set that was not
    // there then is the new backup.
    serverstate::BackupSets before;
    try {
        before = serverstate::backupSets(*ADOQuery1, written, is2000);
    } catch (const DbError&) {
    }
    ADOQuery1->close();
    ADOQuery1->setText(plan.statements.first());
    try {
        // Runs to the end of the server's messages: the file is complete when the check starts.
        // WITH INIT leaves the new set alone in the file: it is set 1.
        longop::Operation backingUp = longop::backup(name, written);
        backingUp.ask = [this, written, name, before, is2000] {
            return serverstate::backupWritten(*ADOQuery1, written, name, before, is2000)
                       ? longop::Left::Done
                       : longop::Left::NotDone;
        };
        longop::run(this, *ADOQuery1, backingUp, verification::afterBackup(name, written, 1, checksum));
    } catch (const longop::FollowUpFailed& e) {
        // Written, but not as it was meant to be: never the success message.
        modal::messageDialog(erroradvice::appended(e) + (throughShared ? removedFromShared(path) : QString()),
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
    if (throughShared) {
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
