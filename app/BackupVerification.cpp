// Verifying a backup set after a backup and before a restore replaces a database.
#include "BackupVerification.h"

#include "AdoQuery.h"
#include "BackupStatements.h"
#include "ErrorAdvice.h"
#include "ModalSeam.h"
#include "SqlQuote.h"

namespace verification {

namespace {
const char* const kLine = "Перевірка…";
} // namespace

longop::Operation checkOperation(const QString& backupPath) {
    // Nothing to ask the server after a cancel: a check changes nothing.
    longop::Operation check;
    check.title = QStringLiteral("Перевірка резервної копії");
    check.subject = QStringLiteral("Файл: ") + backupPath;
    check.notDone = QStringLiteral("Перевірку резервної копії ") + backupPath + QStringLiteral(" скасовано.");
    return check;
}

namespace {

// Whether set `position` of the file was written WITH CHECKSUM, as its header says.
bool setHasChecksums(AdoQuery& query, const QString& backupPath, int position) {
    query.close();
    query.setText(QLatin1String("RESTORE HEADERONLY FROM DISK = ") + sqlquote::literal(backupPath));
    query.openRowset();
    bool has = false;
    for (query.first(); !query.atEnd(); query.next())
        if (query.field(QStringLiteral("Position")).toInt() == position)
            has = query.field(QStringLiteral("HasBackupChecksums")).toInt() != 0;
    query.close();
    return has;
}
} // namespace

QString statement(const QString& backupPath, int position, bool checksum) {
    return backupsql::verifyOnly(backupPath, position, checksum);
}

longop::FollowUp afterBackup(const QString& database, const QString& backupPath, int position, bool checksum) {
    return {statement(backupPath, position, checksum), QString::fromUtf8(kLine),
            QStringLiteral("Перевірку резервної копії бази даних ") + database +
                QStringLiteral(" скасовано: копію у файлі ") + backupPath +
                QStringLiteral(" створено, але не перевірено."),
            QStringLiteral("Створення резервної копії бази даних ") + database +
                QStringLiteral(" перервано, але сервер встиг її завершити: копію у файлі ") + backupPath +
                QStringLiteral(" створено, але не перевірено.")};
}

QString checkedLine() {
    return QStringLiteral("Копію перевірено: з неї можна відновити базу даних.");
}

bool beforeReplacing(QWidget* window, AdoQuery& query, const QString& database, const QString& backupPath,
                     int position, bool serverHasChecksums) {
    try {
        const bool checksum = serverHasChecksums && setHasChecksums(query, backupPath, position);
        query.close();
        query.setText(statement(backupPath, position, checksum));
        longop::run(window, query, checkOperation(backupPath));
    } catch (const DbError& e) {
        modal::messageDialog(erroradvice::appended(e) + QLatin1Char('\n') + QStringLiteral("Базу даних ") +
                                 database + QStringLiteral(" не змінено."),
                             DialogType::Error, {DialogButton::OK});
        return false;
    }
    return true;
}

} // namespace verification
