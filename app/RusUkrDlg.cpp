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

namespace {
int findTable(const QString& first, const QString& third, int from) {
    QString* data = msgdlg::stringData();
    for (int i = from; i + 2 < msgdlg::stringDataSize(); ++i)
        if (data[i] == first && data[i + 2] == third)
            return i;
    return -1;
}
} // namespace

void InstallDialogCaptions() {
    QString* data = msgdlg::stringData();
    const int size = msgdlg::stringDataSize();
    const int types = findTable(QStringLiteral("Warning"), QStringLiteral("Information"), 0);
    if (types < 0 || types + msgdlg::TypeCount > size)
        return;
    for (int i = 0; i < msgdlg::TypeCount; ++i)
        data[types + i] = DialogTypeCaptions[i];
    const int buttons = findTable(QStringLiteral("&Yes"), QStringLiteral("OK"), types);
    if (buttons < 0 || buttons + msgdlg::ButtonCount > size)
        return;
    for (int i = 0; i < msgdlg::ButtonCount; ++i)
        data[buttons + i] = DialogButtonCaptions[i];
}
