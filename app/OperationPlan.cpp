// The confirmation an operation's plan asks for.
#include "OperationPlan.h"

QString OperationPlan::restoreConfirmation() const {
    if (othersFiles.isEmpty())
        return {};
    return QStringLiteral("Відновлення бази даних %1 на сервері %2 запише поверх файлів, які їй не "
                          "належать:\n%3\nПерезаписати ці файли?")
        .arg(database, server, othersFiles.join(QLatin1Char('\n')));
}
