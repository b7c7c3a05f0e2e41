// Database list page: the user databases listed, one detached or dropped after confirmation.
// The same listing fills the backup page's combo box.
#include "FMain.h"

#include "ModalSeam.h"
#include "SqlQuote.h"
#include "ui_FMain.h"

#include <QSignalBlocker>

namespace {
bool isSystemDatabase(const QString& name) {
    const QString lower = name.toLower();
    return lower == QLatin1String("master") || lower == QLatin1String("tempdb") ||
           lower == QLatin1String("model") || lower == QLatin1String("msdb");
}
} // namespace

void TMain::openDatabaseListPage() {
    ui->BitBtn2->setEnabled(false);
    ui->BitBtn4->setEnabled(false);
    FillDatabaseList();
}

void TMain::FillDatabaseList() {
    fillDatabaseItems(nullptr, ui->ListDataBases);
}

void TMain::FillDatabaseCombo(QComboBox* Target) {
    fillDatabaseItems(Target, nullptr);
}

// One routine for both targets: the list box of this page and any combo box.
void TMain::fillDatabaseItems(QComboBox* combo, QListWidget* list) {
    if (!ADOConnection->isOpen())
        ConnectToServer(false);
    if (!ADOConnection->isOpen())
        return;
    struct CloseQuery {
        AdoQuery& q;
        ~CloseQuery() { q.close(); }
    } closeAtEnd{*ADOQuery1};

    ADOQuery1->close();
    ADOQuery1->setText(QStringLiteral("Use Master"));
    ADOQuery1->execute();
    ADOQuery1->close();
    ADOQuery1->setText(QStringLiteral("SELECT name FROM master.dbo.sysdatabases"));
    ADOQuery1->openRowset();
    if (ADOQuery1->rowCount() < 1)
        return;
    // Refilling is not a choice of the user's: the selection handler must not run for it.
    const QSignalBlocker blockList(list);
    const QSignalBlocker blockCombo(combo);
    QStringList names;
    names.reserve(ADOQuery1->rowCount());
    for (ADOQuery1->first(); !ADOQuery1->atEnd(); ADOQuery1->next()) {
        const QString name = ADOQuery1->firstColumn();
        if (!isSystemDatabase(name))
            names.append(name);
    }
    // One insertion for the whole list: a server may hold thousands of databases.
    if (list) {
        list->clear();
        list->addItems(names);
    }
    if (combo) {
        combo->clear();
        combo->addItems(names);
        combo->setCurrentIndex(-1);
    }
}

void TMain::ListDataBasesClick() {
    const QListWidgetItem* item = ui->ListDataBases->currentItem();
    const bool usable = item && item->isSelected() && !item->text().isEmpty();
    ui->BitBtn2->setEnabled(usable);
    ui->BitBtn4->setEnabled(ui->BitBtn2->isEnabled());
}

void TMain::BitBtn2Click() {
    const QListWidgetItem* item = ui->ListDataBases->currentItem();
    if (!item || !item->isSelected() || item->text().isEmpty())
        return;
    const QString name = item->text();
    if (modal::messageDialog(QStringLiteral("Ви впевнені, що хочете від'єднати базу даних ") + name +
                                 QLatin1String(" ?"),
                             DialogType::Confirmation, {DialogButton::Yes, DialogButton::No}) != 6)
        return;
    DetachDatabase(name);
    FillDatabaseList();
}

void TMain::BitBtn4Click() {
    const QListWidgetItem* item = ui->ListDataBases->currentItem();
    if (!item || !item->isSelected())
        return;
    const QString name = item->text();
    if (modal::messageDialog(QStringLiteral("Ви впевнені, що бажаєте видалити базу даних ") + name +
                                 QLatin1String(" ?"),
                             DialogType::Confirmation, {DialogButton::Yes, DialogButton::No}) != 6)
        return;
    if (DropDatabase(name))
        modal::messageDialog(QStringLiteral("База даних ") + name + QStringLiteral(" успішно видалена !"),
                             DialogType::Information, {DialogButton::OK});
    FillDatabaseList();
}

bool TMain::DropDatabase(const QString& Name) {
    if (!ADOConnection->isOpen())
        ConnectToServer(false);
    if (!ADOConnection->isOpen())
        return false;
    try {
        ADOQuery1->close();
        ADOQuery1->setText(QLatin1String("DROP DATABASE ") + sqlquote::name(Name));
        ADOQuery1->execute();
        return true;
    } catch (const DbError& e) {
        modal::systemMessageBox(this, e.message(), QGuiApplication::applicationDisplayName());
        return false;
    }
}
