// Attach page: a data file and a log file attached under a name, an older database of that name
// detached first.
#include "FMain.h"

#include "FileChecks.h"
#include "LongOperation.h"
#include "ModalSeam.h"
#include "SqlQuote.h"
#include "ui_FMain.h"

void TMain::SpeedButton2Click() {
    const QString chosen = OpenDialog1.execute(
        QStringLiteral("*.mdf"), QStringLiteral("Файли бази даних (*.MDF)|*.mdf|Всі файли (*.*)|*.*"));
    if (chosen.isEmpty())
        return;
    ui->edPathMDF->setText(chosen);
    // The dialog left the working directory at the chosen file's folder.
    const QString log = filechecks::firstMatchingEntry(QStringLiteral("."), QStringLiteral("*.ldf"));
    if (!log.isEmpty())
        ui->edPathLDF->setText(filechecks::folderPrefix(ui->edPathMDF->text()) + log);
}

void TMain::SpeedButton3Click() {
    const QString chosen =
        OpenDialog1.execute(QStringLiteral("*.ldf"),
                            QStringLiteral("Файли журналу бази даних (*.LDF)|*.ldf|Всі файли (*.*)|*.*"));
    if (!chosen.isEmpty())
        ui->edPathLDF->setText(chosen);
}

void TMain::BitBtn1Click() {
    AttachDatabase(ui->cbDatabase->text(), ui->edPathMDF->text(), ui->edPathLDF->text());
}

bool TMain::AttachDatabase(const QString& Name, const QString& MdfPath, const QString& LdfPath) {
    if (!ADOConnection->isOpen())
        ConnectToServer(false);
    if (!ADOConnection->isOpen())
        return false;
    if (!filechecks::fileExists(MdfPath))
        return false;
    const QString logPath =
        filechecks::fileExists(LdfPath)
            ? LdfPath
            : filechecks::folderPrefix(MdfPath) + filechecks::trimmed(Name) + QLatin1String("_Log.LDF");
    // Errors of the existence test and the detach end the handler in the plain error box.
    if (DatabaseExists(Name))
        DetachDatabase(Name);

    ADOQuery1->close();
    ADOQuery1->clearLines();
    ADOQuery1->addLine(QLatin1String("CREATE DATABASE ") + sqlquote::name(Name));
    ADOQuery1->addLine(QLatin1String("ON PRIMARY (FILENAME = ") + sqlquote::literal(MdfPath) +
                       QLatin1Char(')'));
    ADOQuery1->addLine(QLatin1String("LOG ON (FILENAME = ") + sqlquote::literal(logPath) + QLatin1Char(')'));
    ADOQuery1->addLine(QStringLiteral("FOR ATTACH"));
    try {
        longop::run(this, *ADOQuery1, longop::attach(Name));
    } catch (const DbError& e) {
        reportFileFailure(e, QStringLiteral("Не можливо підключити фізичний файл "), MdfPath);
        return false;
    }
    modal::messageDialog(QStringLiteral("База даних ") + Name +
                             QStringLiteral(" успішно приєднана із файлу ") + MdfPath,
                         DialogType::Information, {DialogButton::OK});
    return true;
}

// Operating-system error 5 ("5(" in the server's text) gets our own message naming the file;
// any other failure is shown in the server's words with the single Cancel button.
void TMain::reportFileFailure(const DbError& error, const QString& cannotText, const QString& path) {
    if (error.message().contains(QLatin1String("5(")))
        modal::messageDialog(cannotText + path + QLatin1Char('.') + QChar(13) +
                                 QStringLiteral("Помилка операційної системи 5: (Доступ заборонений.)"),
                             DialogType::Error, {DialogButton::OK});
    else
        modal::messageDialog(error.message(), DialogType::Error, {DialogButton::Cancel});
}

bool TMain::DatabaseExists(const QString& Name) {
    ADOConnection->setDefaultDatabase(QStringLiteral("master"));
    if (!ADOConnection->isOpen())
        ConnectToServer(false);
    if (!ADOConnection->isOpen())
        return false;
    ADOQuery1->close();
    ADOQuery1->setText(QStringLiteral("Use Master"));
    ADOQuery1->execute();
    ADOQuery1->close();
    // sysdatabases answers on every version; INFORMATION_SCHEMA.SCHEMATA lists databases on 2000 only.
    ADOQuery1->setText(QLatin1String("SELECT name FROM master.dbo.sysdatabases WHERE name = ") +
                       sqlquote::literal(Name));
    ADOQuery1->openRowset();
    const bool exists = ADOQuery1->rowCount() >= 1;
    ADOQuery1->close();
    return exists;
}

bool TMain::DetachDatabase(const QString& Name) {
    ADOConnection->setDefaultDatabase(QStringLiteral("master"));
    if (!ADOConnection->isOpen())
        ConnectToServer(false);
    if (!ADOConnection->isOpen())
        return false;
    ADOQuery1->setText(QLatin1String("EXEC sp_detach_db ") + sqlquote::literal(Name) +
                       QLatin1String(", 'true'"));
    ADOQuery1->execute();
    return true;
}
