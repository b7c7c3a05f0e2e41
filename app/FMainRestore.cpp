// Restore page: a backup's file list read, target folders chosen, the database restored with
// both files moved.
#include "FMain.h"

#include "ArrivedOffer.h"
#include "BackupHeader.h"
#include "BackupVerification.h"
#include "ErrorAdvice.h"
#include "FileChecks.h"
#include "FileListOperation.h"
#include "LongOperation.h"
#include "ModalSeam.h"
#include "OperationPlan.h"
#include "OperationRun.h"
#include "RestoreOperation.h"
#include "SingleUser.h"
#include "FolderRoom.h"
#include "RestoreChecks.h"
#include "RestoreReadGrant.h"
#include "ServerFileDialog.h"
#include "ServerFileTimes.h"
#include "ServerFiles.h"
#include "ServerQuestions.h"
#include "ServerState.h"
#include "SqlQuote.h"
#include "ui_FMain.h"

#include <QSignalBlocker>

#include <algorithm>

void TMain::openRestorePage() {
    {
        // Emptied, not changed by the user: the last list stays for the folder buttons' proposals,
        // and Restore waits for a list of whatever path comes next.
        const QSignalBlocker keepTheList(ui->edPathBAK);
        ui->edPathBAK->clear();
    }
    ui->edPathMDF2->clear();
    ui->edPathLDF2->clear();
    ui->SpeedButton1->setEnabled(false);
    ui->SpeedButton4->setEnabled(false);
    ui->BitBtn3->setEnabled(false);
    ui->lbProposedFolders->hide();
}

void TMain::SpeedButton5Click() {
    // A server that sees none of this computer's files (a container, another machine) offers its
    // own: a backup chosen here would mean nothing to it.
    const QString chosen =
        serverSeesThisComputer()
            ? OpenDialog1.execute(QStringLiteral("*.bak"),
                                  QStringLiteral("Файли резервної копії бази (*.bak)|*.bak|Всі файли (*.*)|*.*"),
                                  ui->edPathBAK->text())
            : pickServerFile(QStringLiteral("Резервна копія на сервері"), {QStringLiteral("bak")}, ui->edPathBAK->text());
    if (!chosen.isEmpty())
        ui->edPathBAK->setText(chosen);
    try {
        readBackupFileList();
    } catch (const DbError& e) {
        // Refused the backup (error 5): read again, with the same offer as the checks'.
        const auto again = deniedByServer(e, {ui->edPathBAK->text()});
        if (!again)
            throw;
        readBackupFileList();
    }
}

void TMain::readBackupFileList() {
    // Whatever this read comes to, no list of an earlier read stays in force.
    forgetBackupFileList();
    const QString bak = ui->edPathBAK->text();
    // A typed path is read too when the dialog was cancelled. The server reads it, so the server
    // says whether it is there; without a connection this computer's view is all there is.
    const bool seenHere = filechecks::fileExists(bak);
    if (!seenHere && !ADOConnection->isOpen())
        return;
    if (seenHere) {
        ui->SpeedButton1->setEnabled(true);
        ui->SpeedButton4->setEnabled(true);
    }
    // Goes on whatever the connection came to: the statements below open it again themselves.
    connectIfClosed();
    const ops::filelist::Request request{bak, serverIs2000()};
    // Lives as long as the read: the grant its remedy makes is taken back when the handler ends.
    std::shared_ptr<RestoreReadGrant> grant;
    if (ADOConnection->isOpen()) {
        serverfiles::ServerFiles files = serverFiles();
        OperationPlan reach = newPlan(OperationPlan::Kind::FileList, QString());
        reach.read(bak);
        askServerAbout(reach, files);
        if (reach.files.first().reach == Reach::Unknown && !seenHere)
            return;
        if (!readGrantIfRefused(reach, files, ops::filelist::readGrant(request, reach.server, reach.serverAccount),
                                grant))
            return;
    }
    ui->SpeedButton1->setEnabled(true);
    ui->SpeedButton4->setEnabled(true);
    ops::Server here = server();
    const ops::filelist::FileListPlan plan = ops::filelist::plan(request, here);
    // A backup this server cannot restore (a newer server's, a 2000 one from 2012 on) is told from
    // its header, before its list is read.
    if (!plan.stop.isEmpty()) {
        modal::messageDialog(plan.stop, DialogType::Error, {DialogButton::OK});
        return;
    }
    WindowExecutor executor(this, *ADOQuery1, longop::fileList(bak));
    const ops::Ran ran = operationrun::run(this, plan, executor);
    if (!ran.done)
        std::rethrow_exception(ran.stopped);
    if (!ADOQuery1->isOpen() || ADOQuery1->rowCount() < 2)
        return;

    struct Finish {
        TMain& w;
        ~Finish() {
            w.ADOQuery1->close();
            const QString further = restoreplan::furtherFilesHint(w.FBackupFiles);
            w.ui->edPathMDF2->setToolTip(w.ui->edPathMDF2->text() +
                                         (further.isEmpty() ? QString() : QLatin1Char('\n') + further));
            w.ui->edPathLDF2->setToolTip(w.ui->edPathLDF2->text());
            w.ui->BitBtn3->setEnabled(!w.ui->edPathMDF2->text().isEmpty() &&
                                      !w.ui->edPathLDF2->text().isEmpty());
        }
    } finish{*this};

    ui->edPathMDF2->clear();
    ui->edPathLDF2->clear();
    FBackupSet = plan.set;
    // Every file of the set gets a MOVE at restore time, not only the two the page shows.
    FBackupFiles = ops::filelist::files(*ADOQuery1);
    ADOQuery1->close();
    // The first row of each type wins.
    for (const restoreplan::BackupFile& f : FBackupFiles)
        if (f.type == QLatin1String("D") && ui->edPathMDF2->text().isEmpty()) {
            ui->edPathMDF2->setText(f.physicalName);
            FLogicalDataName = f.logicalName;
        }
    for (const restoreplan::BackupFile& f : FBackupFiles)
        if (f.type == QLatin1String("L") && ui->edPathLDF2->text().isEmpty()) {
            ui->edPathLDF2->setText(f.physicalName);
            FLogicalLogName = f.logicalName;
        }
    proposeServerFolders();
    FListedFiles = listedDatabaseFiles();
    propose(ui->edPathMDF2->text(), ui->edPathLDF2->text());
}

bool TMain::readGrantIfRefused(OperationPlan& reach, serverfiles::ServerFiles& files, const ops::Plan& remedy,
                               std::shared_ptr<RestoreReadGrant>& grant) {
    const QStringList refused = reach.refusedPaths(FileUse::Read);
    if (refused.isEmpty())
        return true;
    // Only backups the server reads, on this computer, of an account known here. Folders it cannot
    // create files in are the caller's next offer, once it reads the backup.
    bool grantable = reach.serverUid >= 0 && reach.refusedPaths(FileUse::Write).isEmpty();
    for (const QString& path : refused)
        grantable = grantable && filechecks::fileExists(path);
    if (!grantable) {
        modal::messageDialog(reach.refusal(), DialogType::Error, {DialogButton::OK}, remedy.shown());
        return false;
    }
    if (!modal::confirm(reach.refusal() + QLatin1Char('\n') + remedy.question, remedy.shown()))
        return false;
    for (const ops::JournalEntry& entry : remedy.leaves) {
        grant = std::make_shared<RestoreReadGrant>(entry, uid_t(reach.serverUid));
        if (!grant->ok()) {
            modal::messageDialog(grant->problem() + QLatin1Char('\n') + QStringLiteral("Серверу нічого не надіслано."),
                                 DialogType::Error, {DialogButton::OK});
            return false;
        }
        // What the server refused before is asked anew: the grant changed what it meets.
        reach.kept.push_back(grant);
    }
    for (PlannedFile& f : reach.files)
        if (f.reach == Reach::Refused && f.use == FileUse::Read)
            f.reach = Reach::Unknown;
    // Relied on only once the server says it reads the file now.
    askServerAbout(reach, files);
    if (reach.refusedPaths(FileUse::Read).isEmpty())
        return true;
    modal::messageDialog(reach.refusal(), DialogType::Error, {DialogButton::OK});
    return false;
}

QHash<QString, QString> TMain::listedDatabaseFiles() {
    return ops::backupheader::listedDatabaseFiles(*ADOQuery1, serverIs2000());
}

void TMain::propose(const QString& mdf, const QString& ldf) {
    const QString name = ui->Edit1->text();
    FProposedFromMdf = mdf;
    FProposedFromLdf = ldf;
    FProposedMdf = restoreplan::awayFromOthersFiles(mdf, name, false, FListedFiles);
    FProposedLdf = restoreplan::awayFromOthersFiles(ldf, name, true, FListedFiles);
    ui->edPathMDF2->setText(FProposedMdf);
    ui->edPathLDF2->setText(FProposedLdf);
}

void TMain::Edit1Change() {
    // Only a field that still holds the page's proposal follows the name: a path the user typed or
    // chose stays.
    const QString name = ui->Edit1->text();
    if (!FProposedMdf.isEmpty() && ui->edPathMDF2->text() == FProposedMdf) {
        FProposedMdf = restoreplan::awayFromOthersFiles(FProposedFromMdf, name, false, FListedFiles);
        ui->edPathMDF2->setText(FProposedMdf);
    }
    if (!FProposedLdf.isEmpty() && ui->edPathLDF2->text() == FProposedLdf) {
        FProposedLdf = restoreplan::awayFromOthersFiles(FProposedFromLdf, name, true, FListedFiles);
        ui->edPathLDF2->setText(FProposedLdf);
    }
}

void TMain::proposeServerFolders() {
    ui->lbProposedFolders->hide();
    const QString data = ui->edPathMDF2->text();
    const QString log = ui->edPathLDF2->text();
    try {
        serverfiles::ServerFiles files = serverFiles();
        const serverfiles::Platform platform = files.platform();
        // A backup made on Windows names C:\ paths, which a Linux server takes for a file name
        // and refuses: its own default folders hold the files instead, under the backup's names.
        if (!serverfiles::foreignPath(data, platform) && !serverfiles::foreignPath(log, platform))
            return;
        const serverfiles::DefaultFolders folders = files.defaultFolders();
        if (folders.data.isEmpty())
            return;
        if (serverfiles::foreignPath(data, platform))
            ui->edPathMDF2->setText(serverfiles::joined(folders.data, serverfiles::fileNameOf(data), platform));
        if (serverfiles::foreignPath(log, platform))
            ui->edPathLDF2->setText(serverfiles::joined(folders.log, serverfiles::fileNameOf(log), platform));
    } catch (const DbError&) {
        // The backup's own paths stay: the restore says what the server makes of them.
        return;
    }
    ui->lbProposedFolders->setText(
        QStringLiteral("Резервна копія зроблена на Windows, а сервер працює на Linux: файли бази даних "
                       "запропоновано розмістити в типових каталогах сервера з іменами файлів із копії."));
    ui->lbProposedFolders->show();
}

// The file list, its logical names and its set belong to the backup path they were read from: a
// path changed by the user has none until it is read (SpeedButton5), and Restore waits till then.
void TMain::edPathBAKChange() {
    if (ui->edPathBAK->text() != FBackupSet.backupPath)
        forgetBackupFileList();
}

void TMain::forgetBackupFileList() {
    FLogicalDataName.clear();
    FLogicalLogName.clear();
    FBackupFiles.clear();
    FBackupSet = {};
    FProposedMdf.clear();
    FProposedLdf.clear();
    ui->BitBtn3->setEnabled(false);
    ui->lbProposedFolders->hide();
}

restoreplan::ChosenSet TMain::backupSetOf(const QString& BakPath) {
    return ops::backupheader::chosenSet(*ADOQuery1, BakPath, serverIs2000());
}

std::optional<QString> TMain::pickRestoreFolder(const QString& text, const QString& path) {
    // A server that sees none of this computer's folders (a container, another machine) is offered
    // its own: a folder of this computer would mean nothing to it. Its paths are not looked up here.
    if (!serverSeesThisComputer()) {
        QString start = path.isEmpty() ? QString() : serverfiles::parentOf(path);
        if (start.isEmpty())
            try {
                start = serverfiles::defaultFolders(*ADOQuery1).data;
            } catch (const DbError&) {
            }
        return serverfiles::pick(modal::Kind::ServerFolder, text, {}, start, serverfiles::lister(*ADOQuery1));
    }
    const auto folder = modal::pickFolder(text, filechecks::folderPrefix(path));
    if (!folder || !filechecks::folderExists(*folder))
        return std::nullopt;
    return folder;
}

QString TMain::inRestoreFolder(const QString& folder, const QString& fileName) const {
    return folder.contains(QLatin1Char('\\')) || (folder.size() >= 2 && folder[1] == QLatin1Char(':'))
               ? serverfiles::joined(folder, fileName)
               : filechecks::join(folder, fileName);
}

void TMain::SpeedButton1Click() {
    const auto folder = pickRestoreFolder(QStringLiteral("Виберіть каталог для розміщення MDF-файлу:"),
                                          ui->edPathMDF2->text());
    if (!folder)
        return;
    // Logical names come from the backup, which may come from anywhere: each becomes one plain
    // file name inside the chosen folder.
    const QString name = filechecks::trimmed(ui->Edit1->text());
    const QString dataFile =
        FLogicalDataName.isEmpty()
            ? restoreplan::plainFileName(name + QLatin1String("_Data"), QStringLiteral(".MDF"))
            : restoreplan::plainFileName(FLogicalDataName, QStringLiteral(".MDF"));
    const QString logFile =
        FLogicalLogName.isEmpty()
            ? restoreplan::plainFileName(name + QLatin1String("_Log"), QStringLiteral(".LDF"))
            : restoreplan::plainFileName(FLogicalLogName, QStringLiteral(".LDF"));
    FListedFiles = listedDatabaseFiles();
    propose(inRestoreFolder(*folder, dataFile), inRestoreFolder(*folder, logFile));
}

void TMain::SpeedButton4Click() {
    const auto folder = pickRestoreFolder(QStringLiteral("Виберіть каталог для розміщення LDF-файлу:"),
                                          ui->edPathLDF2->text());
    if (!folder)
        return;
    const QString logFile =
        FLogicalLogName.isEmpty()
            ? restoreplan::plainFileName(filechecks::trimmed(ui->Edit1->text()) + QLatin1String("_Log"),
                                         QStringLiteral(".LDF"))
            : restoreplan::plainFileName(FLogicalLogName, QStringLiteral(".LDF"));
    FListedFiles = listedDatabaseFiles();
    FProposedFromLdf = inRestoreFolder(*folder, logFile);
    FProposedLdf = restoreplan::awayFromOthersFiles(FProposedFromLdf, ui->Edit1->text(), true, FListedFiles);
    ui->edPathLDF2->setText(FProposedLdf);
}

void TMain::BitBtn3Click() {
    // Only with the file list of the backup the field names.
    if (FLogicalDataName.isEmpty() || FBackupSet.backupPath != ui->edPathBAK->text())
        return;
    RestoreDatabase(ui->Edit1->text(), ui->edPathBAK->text(), ui->edPathMDF2->text(), ui->edPathLDF2->text());
}

bool TMain::RestoreDatabase(const QString& Name, const QString& BakPath, const QString& ChosenMdfPath,
                            const QString& ChosenLdfPath) {
    // Where the files go: the chosen paths, or the server's own folders when the user takes them
    // instead of a folder the server cannot create files in.
    QString MdfPath = ChosenMdfPath;
    QString LdfPath = ChosenLdfPath;
    if (!connectedOrConnect())
        return false;
    useMaster();
    if (FLogicalDataName.isEmpty() || FLogicalLogName.isEmpty())
        return false;
    // The server reads the backup and creates the files: before anything names them, the server
    // says whether it reaches them.
    serverfiles::ServerFiles files = serverFiles();
    OperationPlan plan = newPlan(OperationPlan::Kind::Restore, Name);
    plan.read(BakPath);
    try {
        plan.createIn(serverfiles::folderOf(MdfPath, files.platform()));
        plan.createIn(serverfiles::folderOf(LdfPath, files.platform()));
    } catch (const DbError&) {
    }
    askServerAbout(plan, files);
    // A backup the server cannot read is let read (the grant written in the journal, taken back
    // when the handler ends); folders it cannot create files in are offered its own instead.
    std::shared_ptr<RestoreReadGrant> grant;
    if (!plan.refusedPaths(FileUse::Read).isEmpty() &&
        !readGrantIfRefused(plan, files,
                            ops::filelist::readGrant({BakPath, serverIs2000()}, plan.server, plan.serverAccount), grant))
        return false;
    // WITH REPLACE switches off the server's own guards: that the backup holds the database it
    // would overwrite (3154), that the tail of its log was backed up (3159), and that no file lies
    // at a target (3142). It is said only when a database of that name is replaced and the user
    // agreed; a restore under a new name keeps every guard of the server on.
    const bool replacing = DatabaseExists(Name);
    const QStringList replacedFiles = replacing ? databaseFiles(Name) : QStringList();
    // Whether a file lies at a target is the server's to say: it writes there.
    const auto lies = [&](const QString& path) { return fileSeen(files, path); };
    // A file of the replaced database may be overwritten; anybody else's may not.
    auto taken = [&](const QString& path) {
        return !restoreplan::othersFiles({path}, replacedFiles, lies).isEmpty();
    };
    ops::Server here = server();
    // The whole restore to a pair of paths: every further file placed beside them, the plan from
    // the server's answers.
    const auto restoreTo = [&](const QString& mdf, const QString& ldf, const restoreplan::ChosenSet& of) {
        const QList<restoreplan::Move> moves = restoreplan::furtherFiles(FBackupFiles, Name, mdf, ldf, taken);
        const ops::restore::Request r{Name,    BakPath,         of,    FLogicalDataName, mdf,
                                      FLogicalLogName, ldf, moves, replacing,        serverIs2000()};
        return std::make_pair(r, ops::restore::plan(r, here));
    };
    // Folders the server cannot create files in: its own folders are the alternative, a whole plan
    // of its own shown before it is taken. Both are of the set the list was read of: the header
    // is read again once the paths are settled.
    if (plan.refused()) {
        const restoreplan::ChosenSet listed =
            FBackupSet.backupPath == BakPath ? FBackupSet : restoreplan::ChosenSet{};
        const auto own = serverFoldersFor(plan, files, MdfPath, LdfPath);
        if (!own) {
            modal::messageDialog(plan.refusal(), DialogType::Error, {DialogButton::OK},
                                 restoreTo(MdfPath, LdfPath, listed).second.shown());
            return false;
        }
        const auto alternative = restoreTo(own->first, own->second, listed);
        if (!modal::confirm(plan.refusal() + QLatin1Char('\n') +
                                QStringLiteral("Створити файли бази даних у власному каталозі сервера?\n%1\n%2")
                                    .arg(own->first, own->second),
                            alternative.second.shown()))
            return false;
        MdfPath = own->first;
        LdfPath = own->second;
        ui->edPathMDF2->setText(MdfPath);
        ui->edPathLDF2->setText(LdfPath);
        // The plan names the new folders, and is relied on only once the server says it reaches them.
        plan.files.erase(std::remove_if(plan.files.begin(), plan.files.end(),
                                        [](const PlannedFile& f) { return f.use == FileUse::CreateIn; }),
                         plan.files.end());
        plan.createIn(serverfiles::folderOf(MdfPath, files.platform()));
        plan.createIn(serverfiles::folderOf(LdfPath, files.platform()));
        if (!serverReachesAfterRemedy(plan, files))
            return false;
    }
    // The header is read again right before the restore: the file may have been written anew since
    // its list was read (another backup into the same file), and a list of another set names
    // other files.
    restoreplan::ChosenSet set;
    try {
        set = backupSetOf(BakPath);
    } catch (const DbError& e) {
        // A header read before that cannot be read now (the file was damaged or replaced since)
        // stops the restore before anything is touched, and the user is told so.
        reportFileFailure(
            e, QStringLiteral("Не можливо створити фізичний файл "), {MdfPath, LdfPath, BakPath},
            FBackupSet.backupPath == BakPath ? QStringLiteral("Базу даних %1 не змінено.").arg(Name)
                                             : QString());
        return false;
    }
    if (FBackupSet.backupPath == BakPath && !restoreplan::sameSet(set, FBackupSet)) {
        readBackupFileList();
        modal::messageDialog(
            QStringLiteral(
                "Файл резервної копії %1 змінився після того, як його було прочитано: тепер у ньому "
                "копія бази даних %2%3. Список її файлів прочитано знову; перевірте шляхи й "
                "натисніть «Відновити» ще раз.")
                .arg(BakPath, set.databaseName,
                     set.finishDate.isEmpty()
                         ? QString()
                         : QStringLiteral(" від ") + restoreplan::shownDate(set.finishDate)),
            DialogType::Warning, {DialogButton::OK});
        return false;
    }
    // The plan to the paths now settled, of the set read just now (the alternative taken, when the
    // set is the one the list was read of).
    std::pair<ops::restore::Request, ops::Plan> chosen = restoreTo(MdfPath, LdfPath, set);
    const ops::restore::Request& request = chosen.first;
    ops::Plan& restoring = chosen.second;
    const QList<restoreplan::Move>& further = request.further;
    // What the restore touches, confirmed where the user did not name it.
    fillRestorePlan(plan, MdfPath, LdfPath, further, replacing, replacedFiles, lies);
    const QString statement = ops::restore::statement(request);

    // What would stop the restore, or what the user should know, asked before anything is sent.
    try {
        const serverquestions::ServerVersion version = serverquestions::version(*ADOQuery1);
        const serverfiles::Platform platform = files.platform();
        const bool shares = serverSeesThisComputer();
        restorechecks::check(
            *ADOQuery1,
            {version, [platform](const QString& p) { return serverfiles::folderOf(p, platform); }, shares,
             [this, version, shares](const QString& folder) {
                 return folderroom::freeBytes(*ADOQuery1, version, folder, shares);
             },
             folderroom::notChecked},
            restoring, restoreTargets(MdfPath, LdfPath, further, replacedFiles),
            {BakPath, set.major, set.minor, set.build, set.collation});
    } catch (const DbError&) {
        // A server that cannot be asked is not refused for it: the restore meets what it meets.
    }
    plan.stop = restoring.stop;
    plan.findings = restoring.findings + plan.findings;
    if (replacing)
        plan.question = replacingQuestion(Name, set);
    plan.statements = restoring.texts();
    if (!restoring.putBack.isEmpty())
        plan.statements << ops::putBackComment() << restoring.putBackTexts();
    if (!confirmPlan(plan))
        return false;
    // Restored over itself to the files it has, the database looks the same after a cancel whether
    // the restore ran or not: when the server last wrote its data file tells, as the server says.
    const bool overItself = replacing && replacedFiles.contains(MdfPath);
    const int major = ADOConnection->serverMajorVersion();
    const serverfiles::Platform platform = files.platform();
    QString writtenBefore;
    longop::Operation restoringOp = longop::restore(Name);
    restoringOp.ask = [&] {
        switch (serverstate::database(*ADOQuery1, Name)) {
        case serverstate::Database::Missing:
            return longop::Left::NotDone;
        case serverstate::Database::Restoring:
            return longop::Left::Restoring;
        case serverstate::Database::Online:
            break;
        }
        // A database that was there before and is still online may be the old one, untouched
        // by a cancel that came first, unless its files are now the restored ones.
        if (!replacing)
            return longop::Left::Done;
        const QStringList files = databaseFiles(Name);
        if (files != replacedFiles && files.contains(MdfPath))
            return longop::Left::Done;
        // Still the old files, and the restore was to put the data elsewhere: it never ran.
        if (files == replacedFiles && !replacedFiles.contains(MdfPath))
            return longop::Left::NotDone;
        // Restored over itself, to the paths it had: whether the restore wrote the data file
        // tells the restored database from the old one.
        if (files == replacedFiles && overItself && !writtenBefore.isEmpty()) {
            const QString writtenNow = serverfiletimes::lastWritten(*ADOQuery1, major, MdfPath, platform);
            if (!writtenNow.isEmpty())
                return writtenNow != writtenBefore ? longop::Left::Done : longop::Left::NotDone;
        }
        return longop::Left::Unknown;
    };
    // The data file's time is taken right before the restore itself, after the verification and
    // the single-user setting (which the server may write to the file).
    struct RestoreExecutor : WindowExecutor {
        using WindowExecutor::WindowExecutor;
        QString restore;
        std::function<void()> before;
        void send(const ops::Statement& st) override {
            if (st.text == restore && before)
                before();
            WindowExecutor::send(st);
        }
    } executor(this, *ADOQuery1, restoringOp);
    executor.restore = statement;
    executor.before = [&] {
        if (overItself)
            try {
                writtenBefore = serverfiletimes::lastWritten(*ADOQuery1, major, MdfPath, platform);
            } catch (const DbError&) {
            }
    };
    // A damaged backup must never replace a working database: it is checked first, under the
    // check's own dialog.
    if (replacing)
        executor.setLongOperation(restoring.statements.first().text, verification::checkOperation(BakPath));
    const ops::Ran ran = operationrun::run(this, restoring, executor);
    if (!ran.done) {
        if (!ran.putBackFailed.isEmpty())
            modal::messageDialog(ops::singleuser::leftSingleUser(Name, ran.putBackFailed), DialogType::Warning,
                                 {DialogButton::OK});
        try {
            std::rethrow_exception(ran.stopped);
        } catch (const DbError& e) {
            // Stopped before the restore (a damaged backup, the others not put out): nothing changed.
            if (executor.lastSent() != statement) {
                modal::messageDialog(erroradvice::appended(e) + QLatin1Char('\n') +
                                         QStringLiteral("Базу даних %1 не змінено.").arg(Name),
                                     DialogType::Error, {DialogButton::OK});
                return false;
            }
            const QString left = removeHalfRestored(Name, replacing);
            // Refused a file (error 5) and nothing left of it: planned again, the same offer as
            // the checks'.
            bool nothingLeft = false;
            try {
                nothingLeft = !replacing && serverstate::database(*ADOQuery1, Name) == serverstate::Database::Missing;
            } catch (const DbError&) {
            }
            if (nothingLeft)
                if (const auto again = deniedByServer(e, plan.writes + QStringList{BakPath}))
                    return RestoreDatabase(Name, BakPath, ChosenMdfPath, ChosenLdfPath);
            reportFileFailure(e, QStringLiteral("Не можливо створити фізичний файл "),
                              plan.writes + QStringList{BakPath}, left);
            return false;
        }
    }
    QString done =
        QStringLiteral("База даних ") + Name + QStringLiteral(" успішно відновлена із файлу ") + BakPath;
    if (set.position)
        done += QStringLiteral("\nВідновлено набір резервної копії № %1 від %2.")
                    .arg(set.position)
                    .arg(restoreplan::shownDate(set.finishDate));
    const QString furtherDone = restoreplan::furtherFilesDone(further);
    if (!furtherDone.isEmpty())
        done += QLatin1Char('\n') + furtherDone;
    // Users and an owner from another server are told, and mending them offered.
    arrivedoffer::tell(*ADOQuery1, ADOConnection->serverMajorVersion(), Name, done);
    return true;
}

std::optional<std::pair<QString, QString>> TMain::serverFoldersFor(OperationPlan& plan,
                                                                  serverfiles::ServerFiles& files,
                                                                  const QString& MdfPath, const QString& LdfPath) {
    // Only for folders the server cannot create files in, and only when nothing else is refused:
    // a backup it cannot read is no matter of where the files go.
    const QStringList refused = plan.refusedPaths(FileUse::CreateIn);
    if (refused.isEmpty() || !plan.refusedPaths(FileUse::Read).isEmpty())
        return std::nullopt;
    serverfiles::DefaultFolders folders;
    serverfiles::Platform platform;
    try {
        platform = files.platform();
        folders = files.defaultFolders();
    } catch (const DbError&) {
        return std::nullopt;
    }
    if (folders.data.isEmpty())
        return std::nullopt;
    if (folders.log.isEmpty())
        folders.log = folders.data;
    const QString mdfFolder = serverfiles::folderOf(MdfPath, platform);
    const QString ldfFolder = serverfiles::folderOf(LdfPath, platform);
    // Never a file the server lists for another database (its own folder holds the attached ones).
    const QHash<QString, QString> listed = listedDatabaseFiles();
    const QString name = plan.database;
    const QString newMdf = refused.contains(mdfFolder)
                               ? restoreplan::awayFromOthersFiles(
                                     serverfiles::joined(folders.data, serverfiles::fileNameOf(MdfPath), platform),
                                     name, false, listed)
                               : MdfPath;
    const QString newLdf = refused.contains(ldfFolder)
                               ? restoreplan::awayFromOthersFiles(
                                     serverfiles::joined(folders.log, serverfiles::fileNameOf(LdfPath), platform),
                                     name, true, listed)
                               : LdfPath;
    return std::make_pair(newMdf, newLdf);
}

// A restore that failed part-way (a damaged backup, a full disk) leaves its database restoring. One
// under a new name was ours alone and is dropped with what it wrote; a replaced one is named with
// its state, for the user to decide. Returns the line that says which, empty when nothing was left.
QString TMain::removeHalfRestored(const QString& Name, bool replacing) {
    const QString unusable =
        QStringLiteral(" залишилася в стані відновлення (RESTORING): користуватися нею не "
                       "можна, доки її не буде відновлено повністю або видалено.");
    try {
        if (serverstate::database(*ADOQuery1, Name) != serverstate::Database::Restoring)
            return {};
        if (replacing)
            return QStringLiteral("База даних ") + Name + unusable;
        ops::Plan restore;
        restore.server = ui->ServerName->text();
        restore.database = Name;
        const ops::Plan drop = ops::restore::dropHalfRestored(restore);
        WindowExecutor executor(this, *ADOQuery1);
        const ops::Ran ran = ops::run(drop, executor, ops::journal());
        if (!ran.done)
            std::rethrow_exception(ran.stopped);
        return QStringLiteral("Незавершену базу даних %1 видалено разом із записаними файлами.").arg(Name);
    } catch (const DbError&) {
        return QStringLiteral("База даних ") + Name +
               QStringLiteral(
                   " може залишитися в стані відновлення (RESTORING): перегляньте список баз даних.");
    }
}

void TMain::fillRestorePlan(OperationPlan& plan, const QString& MdfPath, const QString& LdfPath,
                            const QList<restoreplan::Move>& further, bool replacing,
                            const QStringList& replacedFiles,
                            const std::function<bool(const QString&)>& lies) const {
    plan.replacesDatabase = replacing;
    plan.writes = {MdfPath, LdfPath};
    for (const restoreplan::Move& m : further)
        plan.writes.append(m.target);
    // The replaced database's own files are overwritten by its own restore; anybody else's only
    // when the user says so (WITH REPLACE switches the server's own check off). Under a new name
    // there is nothing to ask: without REPLACE the server refuses any file that lies there (3142).
    if (replacing)
        plan.othersFiles = restoreplan::othersFiles(plan.writes, replacedFiles, lies);
}

// Asked whenever a database of that name exists: the restore replaces it whole, and what it held
// since the backup is lost. The question says whether the backup is of that database at all.
QString TMain::replacingQuestion(const QString& Name, const restoreplan::ChosenSet& set) {
    // The same database is the same family (the server's own test, 3154, from 2005 on); where
    // either side names none (2000), the same name as the server compares names.
    const QString family = serverstate::familyGuid(*ADOQuery1, Name, serverIs2000());
    const bool same = !family.isEmpty() && !set.familyGuid.isEmpty()
                          ? family.compare(set.familyGuid, Qt::CaseInsensitive) == 0
                          : !set.databaseName.isEmpty() && sameDatabase(Name, set.databaseName);
    if (!same)
        return QStringLiteral("Резервна копія містить базу даних %1, а на сервері вже є інша база даних %2. "
                              "Замінити базу даних %2 вмістом копії?")
            .arg(set.databaseName, Name);
    const QString when = set.finishDate.isEmpty()
                             ? QString()
                             : QStringLiteral(" від ") + restoreplan::shownDate(set.finishDate);
    return QStringLiteral("Резервна копія%2 — копія бази даних %1, яка вже є на сервері. "
                          "Замінити базу даних %1 вмістом копії? Усе, що змінено в ній після "
                          "створення копії, буде втрачено.")
        .arg(Name, when);
}

QList<restorechecks::Target> TMain::restoreTargets(const QString& MdfPath, const QString& LdfPath,
                                                   const QList<restoreplan::Move>& further,
                                                   const QStringList& replacedFiles) const {
    // The page's two paths take the first data and the first log file of the list; every other
    // file goes where its move says.
    QList<restorechecks::Target> targets;
    bool data = false, log = false;
    for (const restoreplan::BackupFile& f : FBackupFiles) {
        const bool isLog = f.type == QLatin1String("L");
        QString path;
        if (isLog && !log) {
            path = LdfPath;
            log = true;
        } else if (!isLog && !data && f.type == QLatin1String("D")) {
            path = MdfPath;
            data = true;
        } else {
            for (const restoreplan::Move& m : further)
                if (m.logicalName == f.logicalName)
                    path = m.target;
        }
        if (!path.isEmpty())
            targets.append({path, f.bytes, !isLog, replacedFiles.contains(path)});
    }
    return targets;
}
