#include "DevServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>

#include <csignal>
#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

DevServer::DevServer(int version, QStringList extraArguments)
    : m_version(version), m_extra(std::move(extraArguments)) {
    start();
}

DevServer::~DevServer() {
    stop();
}

bool DevServer::start() {
    QStringList args = {QStringLiteral("--port"),           QString::number(m_port),
                        QStringLiteral("--browser-port"),   QStringLiteral("0"),
                        QStringLiteral("--version"),        QString::number(m_version),
                        QStringLiteral("--data-dir"),       m_dataDir.path(),
                        QStringLiteral("--log-statements"), statementLog()};
    // The account passes through the test's data folder to its own folders inside (--root, --drive).
    if (m_extra.contains(QStringLiteral("--run-as")))
        QFile::setPermissions(m_dataDir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                                    QFile::ExeGroup | QFile::ExeOther);
    for (QString extra : m_extra)
        args << extra.replace(QStringLiteral("@DATA@"), m_dataDir.path());
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test that dies takes its server with it.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start(QStringLiteral(ZELVARO_DEVSERVER), args);
    if (!m_process.waitForStarted(5000))
        return false;
    m_lines.clear();
    QElapsedTimer timer;
    timer.start();
    // Every listener prints its line before the server flushes; the default instance comes first.
    int expected = 1 + int(m_extra.count(QStringLiteral("--instance")));
    while (m_lines.size() < expected && timer.elapsed() < 5000) {
        m_process.waitForReadyRead(200);
        while (m_process.canReadLine())
            m_lines << QString::fromUtf8(m_process.readLine()).trimmed();
    }
    if (m_lines.isEmpty())
        return false;
    const auto match = QRegularExpression(QStringLiteral(":(\\d+)")).match(m_lines.first());
    m_port = match.captured(1).toInt();
    return m_port > 0;
}

bool DevServer::canRunAs() {
    return ::geteuid() == 0 && ::getpwnam("nobody") != nullptr;
}

QString DevServer::hostPath(const QString& serverPath) const {
    const int root = m_extra.indexOf(QStringLiteral("--root"));
    if (root >= 0 && root + 1 < m_extra.size()) {
        QString top = m_extra[root + 1];
        return top.replace(QStringLiteral("@DATA@"), m_dataDir.path()) + serverPath;
    }
    const int drive = m_extra.indexOf(QStringLiteral("--drive"));
    if (drive >= 0 && drive + 1 < m_extra.size() && serverPath.size() >= 3 && serverPath[1] == QLatin1Char(':')) {
        QString folder = m_extra[drive + 1].mid(2);
        QString rest = serverPath.mid(2);
        return folder.replace(QStringLiteral("@DATA@"), m_dataDir.path()) +
               rest.replace(QLatin1Char('\\'), QLatin1Char('/'));
    }
    return serverPath;
}

void DevServer::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished(1000);
}

QString DevServer::connectionString(const QString& provider, const QString& password) const {
    return QStringLiteral("Provider=%1;Persist Security Info=False;Data Source=%2;User ID=sa;Password=%3")
        .arg(provider, dataSource(), password);
}

int DevServer::instancePort(const QString& name) const {
    for (const QString& line : m_lines)
        if (line.endsWith(QStringLiteral(" instance ") + name))
            return QRegularExpression(QStringLiteral(":(\\d+)")).match(line).captured(1).toInt();
    return 0;
}

QString DevServer::receivedStatements() const {
    QFile log(statementLog());
    log.open(QIODevice::ReadOnly);
    return QString::fromUtf8(log.readAll());
}

QString DevServer::tsql(const QString& batch, const QString& tdsVersion, const QString& freetdsConf) const {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TDSVER"), tdsVersion);
    if (!freetdsConf.isEmpty())
        env.insert(QStringLiteral("FREETDSCONF"), freetdsConf);
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("tsql"),
            {QStringLiteral("-H"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"), QString::number(m_port),
             QStringLiteral("-U"), QStringLiteral("sa"), QStringLiteral("-P"), QStringLiteral("pvtmo")});
    p.waitForStarted();
    p.write((batch + QStringLiteral("\ngo\nquit\n")).toUtf8());
    p.closeWriteChannel();
    p.waitForFinished(20000);
    return QString::fromUtf8(p.readAll());
}
