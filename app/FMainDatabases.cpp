// Database list page: the user databases listed, one detached or dropped after confirmation, or
// its users and owner checked as after a restore.
// The same listing fills the backup page's combo box.
#include "FMain.h"

#include "ArrivedOffer.h"
#include "AttachInPlace.h"
#include "BackupStatements.h"
#include "DatabaseNamesModel.h"
#include "DatabaseOperations.h"
#include "DisconnectOthers.h"
#include "ErrorAdvice.h"
#include "Journal.h"
#include "LongOperation.h"
#include "ModalSeam.h"
#include "OperationRun.h"
#include "SingleUser.h"
#include "UserAccessNote.h"
#include "ui_FMain.h"

#include <QCoreApplication>
#include <QSignalBlocker>

void TMain::openDatabaseListPage() {
    ui->BitBtn2->setEnabled(false);
    ui->BitBtn4->setEnabled(false);
    ui->BitBtn6->setEnabled(false);
    FillDatabaseList();
}

void TMain::FillDatabaseList() {
    fillDatabaseItems(nullptr, m_databaseNames);
}

void TMain::FillDatabaseCombo(QComboBox* Target) {
    fillDatabaseItems(Target, nullptr);
}

// One routine for both targets: the list box of this page and any combo box.
void TMain::fillDatabaseItems(QComboBox* combo, DatabaseNamesModel* list) {
    if (!connectedOrConnect())
        return;
    struct CloseQuery {
        AdoQuery& q;
        ~CloseQuery() { q.close(); }
    } closeAtEnd{*ADOQuery1};

    useMaster();
    ADOQuery1->setText(backupsql::databaseList());
    ADOQuery1->openRowset();
    if (ADOQuery1->rowCount() < 1)
        return;
    // Refilling is not a choice of the user's: the selection handler must not run for it.
    const QSignalBlocker blockList(ui->ListDataBases->selectionModel());
    const QSignalBlocker blockCombo(combo);
    // The names are copied straight from the rowset's buffer into the list's: a server may hold
    // thousands of databases, and none of them needs a string of its own here.
    FlatStrings names;
    for (ADOQuery1->first(); !ADOQuery1->atEnd(); ADOQuery1->next()) {
        const QStringView name = ADOQuery1->firstColumnView();
        if (!backupsql::isSystemDatabase(name))
            names.append(name);
    }
    if (combo) {
        QStringList items;
        items.reserve(names.size());
        for (qsizetype i = 0; i < names.size(); ++i)
            items.append(names.at(i).toString());
        combo->clear();
        combo->addItems(items);
        combo->setCurrentIndex(-1);
    }
    if (list)
        list->setNames(std::move(names)); // one insertion for the whole list; nothing selected
}

bool TMain::sameDatabase(const QString& a, const QString& b) {
    const int id = ops::databaseId(*ADOQuery1, a);
    return id != 0 && id == ops::databaseId(*ADOQuery1, b);
}

// The selected entry's text; *any tells whether an entry is selected at all.
QString TMain::selectedDatabase(bool* any) const {
    const QModelIndexList selected = ui->ListDataBases->selectionModel()->selectedIndexes();
    if (any)
        *any = !selected.isEmpty();
    return selected.isEmpty() ? QString() : selected.first().data().toString();
}

void TMain::ListDataBasesClick() {
    ui->BitBtn2->setEnabled(!selectedDatabase().isEmpty());
    ui->BitBtn4->setEnabled(ui->BitBtn2->isEnabled());
    ui->BitBtn6->setEnabled(ui->BitBtn2->isEnabled());
}

ops::Server TMain::server() {
    return ops::Server{*ADOConnection, *ADOQuery1, ui->ServerName->text()};
}

void TMain::BitBtn2Click() {
    const QString name = selectedDatabase();
    if (name.isEmpty())
        return;
    ops::Server here = server();
    const ops::Plan plan = ops::detach::plan({name}, here);
    if (!modal::confirm(plan.question, plan.shown()))
        return;
    ADOConnection->setDefaultDatabase(QStringLiteral("master"));
    if (connectedOrConnect()) {
        WindowExecutor executor(this, *ADOQuery1);
        const ops::Ran ran = operationrun::run(this, plan, executor);
        if (!ran.done) {
            // The put-back's failure first, then what stopped the detach (the plain error box).
            if (!ran.putBackFailed.isEmpty())
                modal::messageDialog(ops::singleuser::leftSingleUser(name, ran.putBackFailed),
                                     DialogType::Warning, {DialogButton::OK});
            std::rethrow_exception(ran.stopped);
        }
        takeBackForDatabase(ui->ServerName->text(), name); // what was opened for it while attached
        // The plain detach says nothing; one that put the others out tells that the files keep the
        // single-user mode it took for that.
        if (!plan.othersInside.isEmpty())
            modal::messageDialog(useraccessnote::afterDetach(name), DialogType::Information,
                                 {DialogButton::OK});
    }
    FillDatabaseList();
}

void TMain::BitBtn4Click() {
    bool any = false;
    const QString name = selectedDatabase(&any);
    if (!any)
        return;
    ops::Server here = server();
    const ops::Plan plan = ops::drop::plan({name}, here);
    if (!modal::confirm(plan.question, plan.shown()))
        return;
    if (connectedOrConnect()) {
        longop::Operation dropping = longop::drop(name);
        dropping.ask = [this, &plan] {
            ops::Server now = server();
            // Unknown: the server could not say, and the user is told what it may have left.
            return operationrun::leftBy(ops::drop::outcome(plan, now));
        };
        WindowExecutor executor(this, *ADOQuery1, dropping);
        const ops::Ran ran = operationrun::run(this, plan, executor);
        if (ran.done) {
            takeBackForDatabase(ui->ServerName->text(), name); // what was opened for it while attached
            modal::messageDialog(QStringLiteral("База даних ") + name + QStringLiteral(" успішно видалена !"),
                                 DialogType::Information, {DialogButton::OK});
        } else {
            try {
                std::rethrow_exception(ran.stopped);
            } catch (const DbError& e) {
                modal::systemMessageBox(this, erroradvice::appended(e),
                                        QGuiApplication::applicationDisplayName());
            } catch (const OperationCancelled&) {
                // The list shows what the server holds after a cancel too; then the user is told what
                // the cancel left, even when the list could not be read again (it then stays as it was).
                if (!ran.putBackFailed.isEmpty())
                    modal::messageDialog(ops::singleuser::leftSingleUser(name, ran.putBackFailed),
                                         DialogType::Warning, {DialogButton::OK});
                try {
                    FillDatabaseList();
                } catch (const DbError&) {
                }
                throw;
            }
            if (!ran.putBackFailed.isEmpty())
                modal::messageDialog(ops::singleuser::leftSingleUser(name, ran.putBackFailed),
                                     DialogType::Warning, {DialogButton::OK});
        }
    }
    FillDatabaseList();
}

void TMain::BitBtn6Click() {
    const QString name = selectedDatabase();
    if (name.isEmpty() || !connectedOrConnect())
        return;
    arrivedoffer::check(*ADOQuery1, ADOConnection->serverMajorVersion(), name);
}

void TMain::askWhoElseIsInside(OperationPlan& plan, const QString& verb) {
    // A closed connection is not opened for the question: the operation opens it and reports a
    // server that cannot be reached, as it always did.
    if (!ADOConnection->isOpen())
        return;
    try {
        useMaster();
        const serverquestions::ServerVersion v = serverquestions::version(*ADOQuery1);
        plan.othersInside = serverquestions::othersUsing(*ADOQuery1, v, plan.database);
    } catch (const DbError&) {
        // A login without the right to see other sessions: the statement meets what it meets, and
        // the server's refusal (3702, 3703) is shown as it always was.
        plan.othersInside.clear();
        return;
    }
    if (plan.othersInside.isEmpty())
        return;
    plan.question = ops::singleuser::question(plan.database, plan.othersInside, verb);
    plan.statements.prepend(ops::singleuser::singleUser(plan.database));
}

bool TMain::runPuttingOthersOut(const OperationPlan& plan, const std::function<bool()>& operation) {
    if (plan.othersInside.isEmpty())
        return operation();
    // Whatever stops the operation after the others were put out lets them in again, so that a
    // database that is still there is not left to one user; a database that is gone needs nothing.
    DisconnectOthers alone(*ADOQuery1, plan.server, plan.database);
    alone.disconnect();
    const bool done = operation();
    if (done)
        alone.keep();
    return done;
}

void TMain::offerToOpenWhatWasLeft() {
    // Not in the middle of an operation's own connect: its plan is asked about once it has ended.
    if (operationrun::isRunning() || longop::isRunning())
        return;
    const QString here = ui->ServerName->text();
    for (const ops::JournalEntry& left : ops::journal().ours()) {
        if (left.kind != ops::JournalEntry::Kind::SingleUser || left.server != here)
            continue;
        try {
            if (!ops::stillLeft(*ADOQuery1, left)) {
                ops::journal().crossOut(left.id); // opened by somebody, or gone
                continue;
            }
        } catch (const DbError&) {
            return; // asked again at the next connect
        }
        const ops::Plan open = ops::singleuser::openToAll(left);
        // No: the user keeps it so; Zelvaro does not ask again.
        if (modal::confirm(open.question, open.shown())) {
            WindowExecutor executor(this, *ADOQuery1);
            const ops::Ran ran = operationrun::run(this, open, executor);
            if (!ran.done) {
                try {
                    std::rethrow_exception(ran.stopped);
                } catch (const DbError& e) {
                    modal::messageDialog(ops::singleuser::leftSingleUser(left.database, e.message()),
                                         DialogType::Warning, {DialogButton::OK});
                    continue;
                }
            }
        }
        ops::journal().crossOut(left.id);
    }
}

void TMain::tellWhatEarlierRunsLeft() {
    QStringList lines;
    for (const ops::JournalEntry& left : ops::journal().ours())
        if (left.kind != ops::JournalEntry::Kind::SingleUser && !left.lasting &&
            left.pid != QCoreApplication::applicationPid())
            lines << QStringLiteral("• ") + left.describe();
    if (lines.isEmpty())
        return;
    modal::messageDialog(
        QStringLiteral("Попередній запуск Zelvaro завершився, не забравши того, що залишив для "
                       "сервера:\n%1\nZelvaro не зміг забрати це сам; приберіть це вручну.")
            .arg(lines.join(QLatin1Char('\n'))),
        DialogType::Warning, {DialogButton::OK});
}
