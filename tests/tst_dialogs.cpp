// The message dialog itself: Ukrainian captions, button order and answers, keyboard and clipboard.
#include "MessageDialog.h"
#include "RusUkrDlg.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

using msgdlg::MessageDialog;

namespace {
int pressKey(MessageDialog& dialog, int key) {
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QWidget* target = dialog.focusWidget() ? dialog.focusWidget() : &dialog;
    QTest::keyClick(target, Qt::Key(key));
    return dialog.result();
}
} // namespace

class MessageDialogs : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        // Before the install the module speaks English; afterwards Ukrainian.
        QCOMPARE(msgdlg::typeCaption(DialogType::Warning), QStringLiteral("Warning"));
        QCOMPARE(msgdlg::buttonCaption(DialogButton::Yes), QStringLiteral("&Yes"));
        InstallDialogCaptions();
        QApplication::setApplicationDisplayName(QStringLiteral("Zelvaro"));
    }

    void captions() {
        const QStringList types = {"Попередження", "Помилка", "Інформація", "Підтвердження"};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(msgdlg::typeCaption(DialogType(i)), types[i]);
        QCOMPARE(msgdlg::typeCaption(DialogType::Custom), QStringLiteral("Zelvaro"));
        const QStringList buttons = {"&Так",         "Н&і",           "OK",          "Скасувати",
                                     "&Перервати",   "По&вторити",    "&Ігнорувати", "&Все",
                                     "H&і для Всіх", "Т&ак для Всіх", "&Допомога"};
        const QList<int> results = {6, 7, 1, 2, 3, 4, 5, 8, 9, 10, 0};
        for (int i = 0; i < 11; ++i) {
            QCOMPARE(msgdlg::buttonCaption(DialogButton(i)), buttons[i]);
            QCOMPARE(msgdlg::resultOf(DialogButton(i)), results[i]);
        }
        QCOMPARE(msgdlg::buttonCaption(DialogButton::NoToAll).at(0), QLatin1Char('H')); // Latin, not Cyrillic
    }

    void buttonsInKindOrderWithEqualWidths() {
        MessageDialog dialog(QStringLiteral("?"), DialogType::Confirmation,
                             {DialogButton::No, DialogButton::Yes});
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Підтвердження"));
        QCOMPARE(dialog.buttonKinds(), (DialogButtons{DialogButton::Yes, DialogButton::No}));
        dialog.show();
        QVERIFY(dialog.button(DialogButton::Yes)->x() < dialog.button(DialogButton::No)->x());
        QCOMPARE(dialog.button(DialogButton::Yes)->width(), dialog.button(DialogButton::No)->width());
        QVERIFY(dialog.button(DialogButton::Yes)->isDefault());
    }

    void keyboardAndCloseBox() {
        {
            MessageDialog d(QStringLiteral("?"), DialogType::Confirmation,
                            {DialogButton::Yes, DialogButton::No});
            QCOMPARE(pressKey(d, Qt::Key_Escape), 7);
        }
        {
            MessageDialog d(QStringLiteral("?"), DialogType::Confirmation,
                            {DialogButton::Yes, DialogButton::No});
            QCOMPARE(pressKey(d, Qt::Key_Return), 6); // the leftmost has the focus
        }
        {
            MessageDialog d(QStringLiteral("?"), DialogType::Confirmation,
                            {DialogButton::Yes, DialogButton::No});
            d.show();
            d.close();
            QCOMPARE(d.result(), 2);
        }
        {
            MessageDialog d(QStringLiteral("x"), DialogType::Error, {DialogButton::Cancel});
            QCOMPARE(pressKey(d, Qt::Key_Escape), 2);
        }
        {
            MessageDialog d(QStringLiteral("x"), DialogType::Error, {DialogButton::Cancel});
            QCOMPARE(pressKey(d, Qt::Key_Return), 2);
        }
        {
            MessageDialog d(QStringLiteral("x"), DialogType::Information, {DialogButton::OK});
            QCOMPARE(pressKey(d, Qt::Key_Escape), 1);
        }
    }

    void ctrlCCopiesThePlainText() {
        MessageDialog d(QStringLiteral("Видалити?"), DialogType::Confirmation,
                        {DialogButton::Yes, DialogButton::No});
        d.show();
        QTest::keyClick(&d, Qt::Key_C, Qt::ControlModifier);
        const QString line = QString(27, QLatin1Char('-'));
        QCOMPARE(QApplication::clipboard()->text(), line + "\r\nПідтвердження\r\n" + line +
                                                        "\r\nВидалити?\r\n" + line + "\r\nТак   Ні   \r\n" +
                                                        line + "\r\n");
    }

    void ampersandIsAnAcceleratorMarker() {
        MessageDialog d(QStringLiteral("/srv/a&b.mdf"), DialogType::Information, {DialogButton::OK});
        const auto* label = d.findChild<QLabel*>(QStringLiteral("message"));
        QVERIFY(label);
        QVERIFY(!label->text().contains(QLatin1String("&b")));
        QVERIFY(label->text().contains(QLatin1String("<u>b</u>")));
        QVERIFY(d.findChild<QLabel*>(QStringLiteral("icon")));
        MessageDialog custom(QStringLiteral("x"), DialogType::Custom, {DialogButton::OK});
        QVERIFY(!custom.findChild<QLabel*>(QStringLiteral("icon")));
        QCOMPARE(custom.windowTitle(), QStringLiteral("Zelvaro"));
    }
};

QTEST_MAIN(MessageDialogs)
#include "tst_dialogs.moc"
