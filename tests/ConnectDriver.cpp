// Drives an installed Zelvaro without a person: a Qt plugin that /usr/bin/zelvaro loads when
// QT_QPA_GENERIC_PLUGINS names it. Once the window is shown it types ZELVARO_CONNECT_TO as the
// server name, presses Connect, prints the message Zelvaro answers with and whether it ended up
// connected, closes the message, opens the database list (one query to the server) and closes
// the window. The program itself is not changed. Qt owns the plugin's object and deletes it.
#include <QAbstractButton>
#include <QApplication>
#include <QGenericPlugin>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

namespace {

class Driver : public QObject {
public:
    explicit Driver(QString server) : m_server(std::move(server)) {
        // A timer, not a single call: the message Zelvaro shows runs an event loop of its own,
        // and the timer keeps firing in it.
        connect(&m_timer, &QTimer::timeout, this, &Driver::step);
        m_timer.start(100);
    }

private:
    static QWidget* mainWindow() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && w->findChild<QAbstractButton*>(QStringLiteral("ToolButton1")))
                return w;
        return nullptr;
    }

    static void report(const char* what, const QString& text) {
        std::printf("zelvaro-connect: %s %s\n", what, text.toUtf8().constData());
        std::fflush(stdout);
    }

    void step() {
        QWidget* window = mainWindow();
        if (!window)
            return;
        auto* connectButton = window->findChild<QAbstractButton*>(QStringLiteral("ToolButton1"));
        if (QWidget* modal = QApplication::activeModalWidget()) {
            for (QLabel* label : modal->findChildren<QLabel*>())
                if (!label->text().isEmpty())
                    report("message", label->text());
            if (auto* button = modal->findChild<QAbstractButton*>())
                QMetaObject::invokeMethod(button, &QAbstractButton::click, Qt::QueuedConnection);
            m_answered = true;
            return;
        }
        if (!m_pressed) {
            window->findChild<QLineEdit*>(QStringLiteral("ServerName"))->setText(m_server);
            // Queued: the click opens a modal message whose event loop must not run inside this slot.
            QMetaObject::invokeMethod(connectButton, &QAbstractButton::click, Qt::QueuedConnection);
            m_pressed = true;
            return;
        }
        if (!m_answered)
            return;
        if (!m_listed) {
            const bool connected = connectButton->toolTip() == QStringLiteral("Відключитися");
            report(connected ? "connected" : "not-connected", m_server);
            if (connected)
                window->findChild<QTabWidget*>(QStringLiteral("PageControl1"))->setCurrentIndex(1);
            m_listed = true;
            return;
        }
        m_timer.stop();
        window->close();
    }

    QString m_server;
    QTimer m_timer;
    bool m_pressed = false;
    bool m_answered = false;
    bool m_listed = false;
};

} // namespace

class ConnectDriverPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "ConnectDriver.json")

public:
    QObject* create(const QString&, const QString&) override {
        return new Driver(qEnvironmentVariable("ZELVARO_CONNECT_TO"));
    }
};

#include "ConnectDriver.moc"
