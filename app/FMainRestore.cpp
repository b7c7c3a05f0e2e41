// Restore page: a backup's file list read, target folders chosen, the database restored with
// both files moved.
#include "FMain.h"

#include "FileChecks.h"
#include "LongOperation.h"
#include "ModalSeam.h"
#include "SqlQuote.h"
#include "ui_FMain.h"

void TMain::openRestorePage() {
    ui->edPathBAK->clear();
    ui->edPathMDF2->clear();
    ui->edPathLDF2->clear();
    ui->SpeedButton1->setEnabled(false);
    ui->SpeedButton4->setEnabled(false);
    ui->BitBtn3->setEnabled(false);
}

void TMain::SpeedButton5Click() {
    const QString chosen =
        OpenDialog1.execute(QStringLiteral("*.bak"),
                            QStringLiteral("Файли резервної копії бази (*.bak)|*.bak|Всі файли (*.*)|*.*"));
    if (!chosen.isEmpty())
        ui->edPathBAK->setText(chosen);
    // A typed path is read too when the dialog was cancelled.
    if (!filechecks::fileExists(ui->edPathBAK->text()))
        return;
    ui->SpeedButton1->setEnabled(true);
    ui->SpeedButton4->setEnabled(true);
    if (!ADOConnection->isOpen())
        ConnectToServer(false);
    ADOQuery1->close();
    ADOQuery1->setText(QStringLiteral("USE Master"));
    ADOQuery1->execute();
    ADOQuery1->close();
    ADOQuery1->setText(QLatin1String("RESTORE FILELISTONLY FROM Disk = ") +
                       sqlquote::literal(ui->edPathBAK->text()));
    longop::run(this, *ADOQuery1, longop::fileList(ui->edPathBAK->text()));
    if (!ADOQuery1->isOpen() || ADOQuery1->rowCount() < 2)
        return;

    struct Finish {
        TMain& w;
        ~Finish() {
            w.ADOQuery1->close();
            w.ui->edPathMDF2->setToolTip(w.ui->edPathMDF2->text());
            w.ui->edPathLDF2->setToolTip(w.ui->edPathLDF2->text());
            w.ui->BitBtn3->setEnabled(!w.ui->edPathMDF2->text().isEmpty() &&
                                      !w.ui->edPathLDF2->text().isEmpty());
        }
    } finish{*this};

    ui->edPathMDF2->clear();
    ui->edPathLDF2->clear();
    // The first row of each type wins.
    for (ADOQuery1->first(); ui->edPathMDF2->text().isEmpty() && !ADOQuery1->atEnd(); ADOQuery1->next())
        if (ADOQuery1->field(QStringLiteral("Type")).toUpper() == QLatin1String("D")) {
            ui->edPathMDF2->setText(ADOQuery1->field(QStringLiteral("PhysicalName")));
            FLogicalDataName = ADOQuery1->field(QStringLiteral("LogicalName"));
        }
    for (ADOQuery1->first(); ui->edPathLDF2->text().isEmpty() && !ADOQuery1->atEnd(); ADOQuery1->next())
        if (ADOQuery1->field(QStringLiteral("Type")).toUpper() == QLatin1String("L")) {
            ui->edPathLDF2->setText(ADOQuery1->field(QStringLiteral("PhysicalName")));
            FLogicalLogName = ADOQuery1->field(QStringLiteral("LogicalName"));
        }
}

void TMain::SpeedButton1Click() {
    const auto folder =
        modal::pickFolder(QStringLiteral("Виберіть каталог для розміщення MDF-файлу:"), QString());
    if (!folder || !filechecks::folderExists(*folder))
        return;
    const QString name = filechecks::trimmed(ui->Edit1->text());
    const QString dataFile = FLogicalDataName.isEmpty() ? name + QLatin1String("_Data.MDF")
                                                        : FLogicalDataName + QLatin1String(".MDF");
    const QString logFile = FLogicalLogName.isEmpty() ? name + QLatin1String("_Log.LDF")
                                                      : FLogicalLogName + QLatin1String(".LDF");
    ui->edPathMDF2->setText(filechecks::join(*folder, dataFile));
    ui->edPathLDF2->setText(filechecks::join(*folder, logFile));
}

void TMain::SpeedButton4Click() {
    const auto folder = modal::pickFolder(QStringLiteral("Виберіть каталог для розміщення LDF-файлу:"),
                                          filechecks::folderPrefix(ui->edPathLDF2->text()));
    if (!folder || !filechecks::folderExists(*folder))
        return;
    const QString logFile = FLogicalLogName.isEmpty()
                                ? filechecks::trimmed(ui->Edit1->text()) + QLatin1String("_Log.LDF")
                                : FLogicalLogName + QLatin1String(".LDF");
    ui->edPathLDF2->setText(filechecks::join(*folder, logFile));
}

void TMain::BitBtn3Click() {
    RestoreDatabase(ui->Edit1->text(), ui->edPathBAK->text(), ui->edPathMDF2->text(), ui->edPathLDF2->text());
}

bool TMain::RestoreDatabase(const QString& Name, const QString& BakPath, const QString& MdfPath,
                            const QString& LdfPath) {
    if (!ADOConnection->isOpen())
        ConnectToServer(false);
    if (!ADOConnection->isOpen())
        return false;
    ADOQuery1->close();
    ADOQuery1->setText(QStringLiteral("Use Master"));
    ADOQuery1->execute();
    if (FLogicalDataName.isEmpty() || FLogicalLogName.isEmpty())
        return false;
    ADOQuery1->close();
    ADOQuery1->setText(QLatin1String("RESTORE DATABASE ") + sqlquote::name(Name) +
                       QLatin1String(" FROM DISK = ") + sqlquote::literal(BakPath) +
                       QLatin1String(" WITH REPLACE, MOVE ") + sqlquote::literal(FLogicalDataName) +
                       QLatin1String(" TO ") + sqlquote::literal(MdfPath) + QLatin1String(", MOVE ") +
                       sqlquote::literal(FLogicalLogName) + QLatin1String(" TO ") +
                       sqlquote::literal(LdfPath));
    try {
        longop::run(this, *ADOQuery1, longop::restore(Name));
    } catch (const DbError& e) {
        reportFileFailure(e, QStringLiteral("Не можливо створити фізичний файл "), MdfPath);
        return false;
    }
    modal::messageDialog(QStringLiteral("База даних ") + Name +
                             QStringLiteral(" успішно відновлена із файлу ") + BakPath,
                         DialogType::Information, {DialogButton::OK});
    return true;
}
