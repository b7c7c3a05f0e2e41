// Backup page: a full backup of a listed database into a chosen file.
#include "FMain.h"

#include "BackupStatements.h"
#include "BackupVerification.h"
#include "ErrorAdvice.h"
#include "FileChecks.h"
#include "LongOperation.h"
#include "ModalSeam.h"
#include "OperationPlan.h"
#include "ServerState.h"
#include "ui_FMain.h"

#include <QDateTime>

void TMain::openBackupPage() {
    FillDatabaseCombo(ui->cbDataBase1);
    ui->BitBtn5->setEnabled(false);
}

void TMain::SpeedButton6Click() {
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
        ui->BitBtn5->setEnabled(filechecks::folderExists(filechecks::folderPart(path)));
}

void TMain::cbDataBase1Change() {
    // A path typed before the database was chosen (or kept from the page's last visit) counts as
    // much as one typed after.
    if (ui->cbDataBase1->currentIndex() >= 0 && ui->edSavePathBAK->text().size() > 4 &&
        filechecks::folderExists(filechecks::folderPart(ui->edSavePathBAK->text())))
        ui->BitBtn5->setEnabled(true);
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
    OperationPlan plan = newPlan(OperationPlan::Kind::Backup, name);
    plan.write(path);
    plan.writes = {path};
    if (ADOConnection->isOpen()) {
        serverfiles::ServerFiles files = serverFiles();
        askServerAbout(plan, files);
    }
    if (plan.files.first().reach == Reach::Unknown && !seenHere)
        return;
    // From 2005 on the server checksums every page it writes, so the check afterwards finds a
    // changed byte anywhere in the file. And the copy is COPY_ONLY: a plain full backup would
    // become the base of the next differential backup of the site's own schedule, and once our
    // file is moved or deleted their chain could not be restored. 2000 knows neither option.
    const bool newerServer = !serverIs2000();
    const bool checksum = newerServer;
    plan.statements = {backupsql::backup(name, path, checksum, newerServer)};
    if (!confirmPlan(plan))
        return;
    ADOQuery1->close();
    ADOQuery1->setText(plan.statements.first());
    try {
        // Runs to the end of the server's messages: the file is complete when the check starts.
        // WITH INIT leaves the new set alone in the file: it is set 1.
        longop::Operation backingUp = longop::backup(name, path);
        backingUp.ask = [this, path, name, started = QDateTime::currentDateTime()] {
            return serverstate::backupWritten(*ADOQuery1, path, name, started) ? longop::Left::Done
                                                                               : longop::Left::NotDone;
        };
        longop::run(this, *ADOQuery1, backingUp, verification::afterBackup(name, path, 1, checksum));
    } catch (const longop::FollowUpFailed& e) {
        // Written, but not as it was meant to be: never the success message.
        modal::messageDialog(erroradvice::appended(e), DialogType::Error, {DialogButton::OK});
        return;
    } catch (const DbError& e) {
        modal::simpleMessage(erroradvice::appended(e));
        return;
    }
    modal::messageDialog(QStringLiteral("Створення резервної копії бази даних ") + name +
                             QStringLiteral(" успішно виконано.") + QLatin1Char('\n') + verification::checkedLine(),
                         DialogType::Information, {DialogButton::OK});
}
