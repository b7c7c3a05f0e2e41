#include "RusUkrDlg.h"

#include "MessageDialog.h"

const QString DialogTypeCaptions[5] = {
    QStringLiteral("Попередження"),
    QStringLiteral("Помилка"),
    QStringLiteral("Інформація"),
    QStringLiteral("Підтвердження"),
    QString(),
};

// "OK" is Latin; the No-to-all caption begins with a Latin capital H.
const QString DialogButtonCaptions[11] = {
    QStringLiteral("&Так"),          QStringLiteral("Н&і"),        QStringLiteral("OK"),
    QStringLiteral("Скасувати"),     QStringLiteral("&Перервати"), QStringLiteral("По&вторити"),
    QStringLiteral("&Ігнорувати"),   QStringLiteral("&Все"),       QStringLiteral("H&і для Всіх"),
    QStringLiteral("Т&ак для Всіх"), QStringLiteral("&Допомога"),
};

void InstallDialogCaptions() {
    msgdlg::setCaptions(DialogTypeCaptions, DialogButtonCaptions);
}
