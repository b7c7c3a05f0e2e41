// Every operation that changes the server is planned from the server's answers right before it
// runs, and shown through one confirmation: a path the server cannot reach stops it there.
#include "FMain.h"

#include "FileChecks.h"
#include "ModalSeam.h"
#include "ui_FMain.h"

serverfiles::ServerFiles TMain::serverFiles() {
    return serverfiles::ServerFiles(*ADOQuery1, ADOConnection->serverMajorVersion());
}

OperationPlan TMain::newPlan(OperationPlan::Kind kind, const QString& database) const {
    OperationPlan plan;
    plan.kind = kind;
    plan.server = ui->ServerName->text();
    plan.database = database;
    return plan;
}

void TMain::askServerAbout(OperationPlan& plan, serverfiles::ServerFiles& files) {
    try {
        plan.askServer(files);
    } catch (const DbError&) {
        // A server that cannot be asked is not refused for it: the statement meets what it meets.
        for (PlannedFile& f : plan.files)
            if (f.reach != Reach::Refused)
                f.reach = Reach::Unknown;
    }
}

bool TMain::fileSeen(serverfiles::ServerFiles& files, const QString& path) {
    if (path.isEmpty())
        return false;
    try {
        const serverfiles::PathState s = files.state(path);
        if (s.answered && (s.exists || files.answersAbout(path)))
            return s.exists && !s.isFolder;
    } catch (const DbError&) {
    }
    return filechecks::fileExists(path);
}

bool TMain::confirmPlan(OperationPlan& plan) {
    if (plan.refused()) {
        const QString refusal = plan.refusal();
        if (!plan.remedy.apply) {
            modal::messageDialog(refusal, DialogType::Error, {DialogButton::OK});
            return false;
        }
        if (!modal::confirm(refusal + QLatin1Char('\n') + plan.remedy.offer) || !plan.remedy.apply(plan))
            return false;
    }
    if (!plan.question.isEmpty() && !modal::confirm(plan.question))
        return false;
    const QString overwrite = plan.restoreConfirmation();
    return overwrite.isEmpty() || modal::confirm(overwrite);
}
