// Database list page: the user databases listed, one detached or dropped after confirmation.
// The same listing fills the backup page's combo box.
#include "FMain.h"

#include "BackupStatements.h"
#include "DatabaseNamesModel.h"
#include "DisconnectOthers.h"
#include "ErrorAdvice.h"
#include "LongOperation.h"
#include "ModalSeam.h"
#include "ServerState.h"
#include "SqlQuote.h"
#include "UserAccessNote.h"
#include "ui_FMain.h"

#include <QSignalBlocker>

void TMain::openDatabaseListPage() {
    ui->BitBtn2->setEnabled(false);
    ui->BitBtn4->setEnabled(false);
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

int TMain::databaseId(const QString& Name) {
    ADOQuery1->close();
    ADOQuery1->setText(QLatin1String("SELECT name, dbid FROM master.dbo.sysdatabases WHERE name = ") +
                       sqlquote::literal(Name));
    ADOQuery1->openRowset();
    const int id = ADOQuery1->atEnd() ? 0 : ADOQuery1->field(QStringLiteral("dbid")).toInt();
    ADOQuery1->close();
    return id;
}

bool TMain::sameDatabase(const QString& a, const QString& b) {
    const int id = databaseId(a);
    return id != 0 && id == databaseId(b);
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
}

void TMain::BitBtn2Click() {
    const QString name = selectedDatabase();
    if (name.isEmpty())
        return;
    OperationPlan plan = newPlan(OperationPlan::Kind::Detach, name);
    plan.question = QStringLiteral("Ви впевнені, що хочете від'єднати базу даних ") + name + QStringLiteral(" ?");
    plan.statements = {QLatin1String("EXEC sp_detach_db ") + sqlquote::literal(name) + QLatin1String(", 'true'")};
    askWhoElseIsInside(plan, QStringLiteral("Від'єднати"));
    if (!confirmPlan(plan))
        return;
    // The plain detach says nothing; one that put the others out tells that the files keep the
    // single-user mode it took for that.
    if (runPuttingOthersOut(plan, [&] { return DetachDatabase(name); }) && !plan.othersInside.isEmpty())
        modal::messageDialog(useraccessnote::afterDetach(name), DialogType::Information, {DialogButton::OK});
    FillDatabaseList();
}

void TMain::BitBtn4Click() {
    bool any = false;
    const QString name = selectedDatabase(&any);
    if (!any)
        return;
    OperationPlan plan = newPlan(OperationPlan::Kind::Drop, name);
    plan.question = QStringLiteral("Ви впевнені, що бажаєте видалити базу даних ") + name + QStringLiteral(" ?");
    plan.statements = {QLatin1String("DROP DATABASE ") + sqlquote::name(name)};
    askWhoElseIsInside(plan, QStringLiteral("Видалити"));
    if (!confirmPlan(plan))
        return;
    try {
        if (runPuttingOthersOut(plan, [&] { return DropDatabase(name); }))
            modal::messageDialog(QStringLiteral("База даних ") + name + QStringLiteral(" успішно видалена !"),
                                 DialogType::Information, {DialogButton::OK});
    } catch (const OperationCancelled&) {
        // The list shows what the server holds after a cancel too; then the user is told what the
        // cancel left, even when the list could not be read again (it then stays as it was).
        try {
            FillDatabaseList();
        } catch (const DbError&) {
        }
        throw;
    }
    FillDatabaseList();
}

bool TMain::DropDatabase(const QString& Name) {
    if (!connectedOrConnect())
        return false;
    try {
        ADOQuery1->close();
        ADOQuery1->setText(QLatin1String("DROP DATABASE ") + sqlquote::name(Name));
        longop::Operation dropping = longop::drop(Name);
        dropping.ask = [this, &Name] {
            return serverstate::database(*ADOQuery1, Name) == serverstate::Database::Missing
                       ? longop::Left::Done
                       : longop::Left::NotDone;
        };
        longop::run(this, *ADOQuery1, dropping);
        return true;
    } catch (const DbError& e) {
        modal::systemMessageBox(this, erroradvice::appended(e), QGuiApplication::applicationDisplayName());
        return false;
    }
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
    plan.question = disconnectothers::question(plan.database, plan.othersInside, verb);
    plan.statements.prepend(disconnectothers::singleUser(plan.database));
}

bool TMain::runPuttingOthersOut(const OperationPlan& plan, const std::function<bool()>& operation) {
    if (plan.othersInside.isEmpty())
        return operation();
    // Whatever stops the operation after the others were put out lets them in again, so that a
    // database that is still there is not left to one user; a database that is gone needs nothing.
    const auto letEveryoneIn = [this, &plan] {
        try {
            if (!DatabaseExists(plan.database))
                return;
            ADOQuery1->close();
            ADOQuery1->setText(disconnectothers::multiUser(plan.database));
            ADOQuery1->execute();
        } catch (const DbError& e) {
            modal::messageDialog(
                QStringLiteral("База даних %1 залишилася доступною лише одному з'єднанню: сервер не виконав %2 (%3). "
                               "Виконайте цю інструкцію, коли сервер буде доступний.")
                    .arg(plan.database, disconnectothers::multiUser(plan.database), e.message()),
                DialogType::Warning, {DialogButton::OK});
        }
    };
    bool done = false;
    try {
        ADOQuery1->close();
        ADOQuery1->setText(disconnectothers::singleUser(plan.database));
        ADOQuery1->execute();
        done = operation();
    } catch (...) {
        letEveryoneIn();
        throw;
    }
    if (!done)
        letEveryoneIn();
    return done;
}
