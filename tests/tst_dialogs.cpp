// The message dialog itself: Ukrainian captions, button order and answers, keyboard and clipboard.
#include "DialogAnswers.h"
#include "FolderPicker.h"
#include "MessageDialog.h"
#include "ModalSeam.h"
#include "RusUkrDlg.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>
#include <algorithm>

using msgdlg::MessageDialog;


class MessageDialogs : public QObject {
    Q_OBJECT
    QStringList m_englishTypes, m_englishButtons; // the module's own captions, before the install
private slots:
    void initTestCase() {
        for (int i = 0; i < msgdlg::TypeCount; ++i)
            m_englishTypes << msgdlg::typeCaption(DialogType(i));
        for (int i = 0; i < msgdlg::ButtonCount; ++i)
            m_englishButtons << msgdlg::buttonCaption(DialogButton(i));
        InstallDialogCaptions();
        QApplication::setApplicationDisplayName(QStringLiteral("Zelvaro"));
    }

    // Every caption is replaced by the Ukrainian one but "OK", which stays Latin; a custom dialog
    // is captioned with the application's name.
    void captionsInstalled() {
        QCOMPARE(m_englishTypes.first(), QStringLiteral("Warning"));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(msgdlg::typeCaption(DialogType(i)), DialogTypeCaptions[i]);
        QCOMPARE(msgdlg::typeCaption(DialogType::Custom), QStringLiteral("Zelvaro"));
        for (int i = 0; i < msgdlg::ButtonCount; ++i) {
            const QString caption = msgdlg::buttonCaption(DialogButton(i));
            QCOMPARE(caption, DialogButtonCaptions[i]);
            const bool latin = std::all_of(caption.begin(), caption.end(), [](QChar c) { return c.unicode() < 0x80; });
            QCOMPARE(latin, DialogButton(i) == DialogButton::OK);
            QCOMPARE(caption == m_englishButtons[i], DialogButton(i) == DialogButton::OK);
        }
        // The answers are the numbers the old client's callers compare with.
        const QList<int> results = {Reply::Yes, Reply::No, Reply::OK, Reply::Cancel, 3, 4, 5, 8, 9, 10, 0};
        for (int i = 0; i < msgdlg::ButtonCount; ++i)
            QCOMPARE(msgdlg::resultOf(DialogButton(i)), results[i]);
    }

    // Within one dialog no two buttons share a shortcut letter (Alt+letter presses one button).
    void shortcutLettersUniqueInEachDialog_data() {
        QTest::addColumn<DialogButtons>("buttons");
        using B = DialogButton;
        QTest::newRow("yes no") << DialogButtons{B::Yes, B::No};
        QTest::newRow("yes no cancel") << DialogButtons{B::Yes, B::No, B::Cancel};
        QTest::newRow("ok cancel") << DialogButtons{B::OK, B::Cancel};
        QTest::newRow("abort retry ignore") << DialogButtons{B::Abort, B::Retry, B::Ignore};
        QTest::newRow("ok yes retry") << DialogButtons{B::OK, B::Yes, B::Retry};
        QTest::newRow("cancel no ok") << DialogButtons{B::Cancel, B::No, B::OK};
        QTest::newRow("yes all no cancel help") << DialogButtons{B::Yes, B::YesToAll, B::No, B::Cancel, B::Help};
    }
    void shortcutLettersUniqueInEachDialog() {
        QFETCH(DialogButtons, buttons);
        MessageDialog dialog(QStringLiteral("?"), DialogType::Confirmation, buttons);
        QStringList letters;
        for (DialogButton b : buttons) {
            const QKeySequence shortcut = QKeySequence::mnemonic(dialog.button(b)->text());
            if (shortcut.isEmpty())
                continue;
            const QString letter = shortcut.toString().toLower();
            QVERIFY2(!letters.contains(letter), qPrintable(dialog.button(b)->text()));
            letters << letter;
        }
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
            QCOMPARE(pressKey(d, Qt::Key_Escape), Reply::No);
        }
        {
            MessageDialog d(QStringLiteral("?"), DialogType::Confirmation,
                            {DialogButton::Yes, DialogButton::No});
            QCOMPARE(pressKey(d, Qt::Key_Return), Reply::Yes); // the leftmost has the focus
        }
        {
            MessageDialog d(QStringLiteral("?"), DialogType::Confirmation,
                            {DialogButton::Yes, DialogButton::No});
            d.show();
            d.close();
            QCOMPARE(d.result(), Reply::Cancel);
        }
        {
            MessageDialog d(QStringLiteral("x"), DialogType::Error, {DialogButton::Cancel});
            QCOMPARE(pressKey(d, Qt::Key_Escape), Reply::Cancel);
        }
        {
            MessageDialog d(QStringLiteral("x"), DialogType::Error, {DialogButton::Cancel});
            QCOMPARE(pressKey(d, Qt::Key_Return), Reply::Cancel);
        }
        {
            MessageDialog d(QStringLiteral("x"), DialogType::Information, {DialogButton::OK});
            QCOMPARE(pressKey(d, Qt::Key_Escape), Reply::OK);
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

    // Names and paths come from the user, the file system and the server: shown as they are, an
    // "&" and "&&" included, with their line breaks and runs of blanks.
    void messageIsShownAsItIs() {
        for (const QString& message :
             {QStringLiteral("/srv/a&b.mdf"), QStringLiteral("R&&D <b>x</b>\nдва  пропуски &")}) {
            MessageDialog d(message, DialogType::Information, {DialogButton::OK});
            QCOMPARE(shownText(d), message);
        }
        MessageDialog d(QStringLiteral("x"), DialogType::Information, {DialogButton::OK});
        QVERIFY(d.findChild<QLabel*>(QStringLiteral("icon")));
        MessageDialog custom(QStringLiteral("x"), DialogType::Custom, {DialogButton::OK});
        QVERIFY(!custom.findChild<QLabel*>(QStringLiteral("icon")));
        QCOMPARE(custom.windowTitle(), QStringLiteral("Zelvaro"));
    }

    // With the active window on another monitor the dialog comes up centred on that monitor; with
    // none active, on the primary one. (Runs once more on two virtual screens.)
    void placedOnTheActiveWindowsMonitor() {
        const QList<QScreen*> screens = QGuiApplication::screens();
        QWidget owner;
        owner.resize(300, 200);
        owner.move(screens.last()->geometry().topLeft() + QPoint(50, 50));
        owner.show();
        owner.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&owner));
        QCOMPARE(owner.screen(), screens.last());
        MessageDialog d(QStringLiteral("?"), DialogType::Information, {DialogButton::OK}, &owner);
        const QRect area = screens.last()->availableGeometry();
        QVERIFY(qAbs(d.geometry().center().x() - area.center().x()) <= 2);
        QVERIFY(area.contains(d.geometry()));
        owner.hide();
        QApplication::setActiveWindow(nullptr);
        MessageDialog alone(QStringLiteral("?"), DialogType::Information, {DialogButton::OK});
        QVERIFY(QGuiApplication::primaryScreen()->availableGeometry().contains(alone.geometry()));
    }

    // The folder picker shows its prompt above the folder view, and its path field spans the
    // dialog: a long path stays in view. Typing a folder and Enter chooses it.
    void folderPickerLayout() {
        const QString prompt = QStringLiteral("Виберіть каталог для розміщення MDF-файлу:");
        QTemporaryDir folder;
        QRect promptAt, viewAt, pathAt;
        int dialogWidth = 0;
        // Looked at once it is open, then answered by typing a folder and Enter.
        QTimer poll;
        poll.setInterval(50);
        connect(&poll, &QTimer::timeout, this, [&] {
            QWidget* d = QApplication::activeModalWidget();
            if (!d)
                return;
            poll.stop();
            dialogWidth = d->width();
            auto at = [d](QWidget* w) { return QRect(w->mapTo(d, QPoint(0, 0)), w->size()); };
            for (auto* label : d->findChildren<QLabel*>())
                if (label->isVisible() && label->text() == prompt)
                    promptAt = at(label);
            for (auto* view : d->findChildren<QAbstractItemView*>())
                if (view->isVisible() && view->width() * view->height() > viewAt.width() * viewAt.height())
                    viewAt = at(view);
            QLineEdit* path = nullptr;
            for (auto* edit : d->findChildren<QLineEdit*>())
                if (edit->isVisible() && !qobject_cast<QComboBox*>(edit->parentWidget()))
                    path = edit;
            if (!path) {
                d->close();
                return;
            }
            pathAt = at(path);
            path->setFocus();
            path->setText(folder.path());
            QTest::keyClick(path, Qt::Key_Return);
        });
        poll.start();
        const std::optional<QString> chosen = modal::pickFolder(prompt, QString());
        QVERIFY(promptAt.isValid());
        QVERIFY2(promptAt.bottom() < viewAt.top(), "prompt above the folder view");
        QVERIFY2(pathAt.width() >= dialogWidth - 40,
                 qPrintable(QStringLiteral("path field %1 of %2 px").arg(pathAt.width()).arg(dialogWidth)));
        QCOMPARE(chosen, std::optional<QString>(folder.path()));
    }

    // The picker opens at the folder it is given and makes a new folder inside the one in its
    // path field, named in place: the path follows the name typed.
    void folderPickerMakesAFolder() {
        QTemporaryDir folder;
        QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("Нова папка")));
        FolderPicker picker(QStringLiteral("?"), folder.path());
        picker.show();
        auto* path = picker.findChild<QLineEdit*>(QStringLiteral("path"));
        QCOMPARE(path->text(), folder.path());
        auto* make = picker.findChild<QPushButton*>(QStringLiteral("newFolder"));
        QVERIFY(make);
        make->click();
        const QString made = folder.path() + QStringLiteral("/Нова папка (2)");
        QVERIFY(QFileInfo(made).isDir());
        QCOMPARE(picker.chosenFolder(), made);
        auto* tree = picker.findChild<QTreeView*>();
        auto* editor = tree->findChild<QLineEdit*>();
        QVERIFY2(editor && editor->isVisible(), "the new folder's name is open for typing");
        editor->setText(QStringLiteral("Звіти"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(QFileInfo(folder.path() + QStringLiteral("/Звіти")).isDir());
        QTRY_COMPARE(picker.chosenFolder(), folder.path() + QStringLiteral("/Звіти"));
        QVERIFY(!QFileInfo::exists(made));
    }
};

QTEST_MAIN(MessageDialogs)
#include "tst_dialogs.moc"
