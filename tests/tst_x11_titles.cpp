// The window captions as the X11 window system shows them (_NET_WM_NAME, read with xprop): the
// main window's and the dialogs' own captions, with nothing appended. Runs on a virtual X server.
#include "FMain.h"
#include "MessageDialog.h"
#include "ModalSeam.h"
#include "RusUkrDlg.h"
#include "Startup.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

namespace {
// The title the window manager reads, or an error text.
QString titleSeenByX11(QWidget& window) {
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return QStringLiteral("(not shown)");
    QProcess xprop;
    xprop.start(QStringLiteral("xprop"),
                {QStringLiteral("-id"), QString::number(window.winId()), QStringLiteral("_NET_WM_NAME")});
    if (!xprop.waitForFinished(5000))
        return QStringLiteral("(xprop did not answer)");
    // _NET_WM_NAME(UTF8_STRING) = "Zelvaro 1.0.2.0" (the configured version)
    const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
    const auto m = QRegularExpression(QStringLiteral("= \"(.*)\"$")).match(out);
    return m.hasMatch() ? m.captured(1) : out;
}
} // namespace

class X11Titles : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == QLatin1String("xcb"), "runs on an X server only");
        InstallDialogCaptions();
        configureApplication(*qApp);
    }

    void mainWindow() {
        TMain window;
        QCOMPARE(titleSeenByX11(window), QStringLiteral("Zelvaro " CONFIGURED_VERSION));
    }

    void messageDialogs_data() {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("caption");
        QTest::newRow("error") << int(DialogType::Error) << "Помилка";
        QTest::newRow("information") << int(DialogType::Information) << "Інформація";
        QTest::newRow("confirmation") << int(DialogType::Confirmation) << "Підтвердження";
        QTest::newRow("simple message") << int(DialogType::Custom) << "Zelvaro";
    }
    void messageDialogs() {
        QFETCH(int, type);
        QFETCH(QString, caption);
        msgdlg::MessageDialog dialog(QStringLiteral("?"), DialogType(type), {DialogButton::OK});
        QCOMPARE(titleSeenByX11(dialog), caption);
    }

    // The error box and the open-file picker, each read once it is open and then closed.
    void errorBoxAndFilePicker() {
        QString seen;
        QTimer poll;
        poll.setInterval(50);
        connect(&poll, &QTimer::timeout, this, [&] {
            if (QWidget* open = QApplication::activeModalWidget()) {
                poll.stop();
                seen = titleSeenByX11(*open);
                open->close();
            }
        });
        poll.start();
        modal::errorBox(QStringLiteral("x"));
        QCOMPARE(seen, QStringLiteral("Zelvaro"));
        poll.start();
        SharedOpenDialog picker;
        picker.execute(QStringLiteral("*.mdf"), QStringLiteral("Файли бази даних (*.MDF)|*.mdf"));
        QCOMPARE(seen, QStringLiteral("Вибір бази даних"));
    }
};

QTEST_MAIN(X11Titles)
#include "tst_x11_titles.moc"
