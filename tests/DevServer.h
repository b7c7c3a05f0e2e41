// Starts a private zelvaro-devserver for one test: a free port, its own data folder, stopped
// when the object goes away.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class DevServer {
public:
    explicit DevServer(int version = 2019, QStringList extraArguments = {});
    ~DevServer();
    bool start();
    void stop();
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    // Options for the next start (a restart keeps the port and the data folder).
    void setExtraArguments(QStringList extraArguments) { m_extra = std::move(extraArguments); }

    // The stand-in as somebody else, for extraArguments (combine them with +). "@DATA@" in an
    // argument stands for this server's data folder.
    // As another account (root only; tests use nobody): every file it touches, it touches with
    // that account's rights. Its data folder is handed to the account.
    static QStringList runAs(const QString& user = QStringLiteral("nobody")) {
        return {QStringLiteral("--run-as"), user};
    }
    static bool canRunAs(); // root, and the account nobody exists
    // In a file system of its own, as in a container: its paths are /var/opt/mssql/data/… and a
    // path of this computer means nothing to it.
    static QStringList ownRoot() {
        return {QStringLiteral("--root"), QStringLiteral("@DATA@/root"), QStringLiteral("--data-dir"),
                QStringLiteral("@DATA@/root/var/opt/mssql/data")};
    }
    // Playing Windows on drive C: (C:\SQLData\x.mdf), whatever the version.
    static QStringList windowsDrive() {
        return {QStringLiteral("--drive"), QStringLiteral("C=@DATA@/drive-c"), QStringLiteral("--data-dir"),
                QStringLiteral("@DATA@/drive-c/SQLData")};
    }
    // Where a path the server names is on this computer (the path itself without --root/--drive).
    QString hostPath(const QString& serverPath) const;

    int port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }
    QString dataDir() const { return m_dataDir.path(); }
    QString scratch() const { return m_scratch.path(); } // a folder for files the test makes
    QString dataSource() const { return QStringLiteral("127.0.0.1,%1").arg(m_port); }
    QString connectionString(const QString& provider = QStringLiteral("SQLNCLI11.0"),
                             const QString& password = QStringLiteral("pvtmo")) const;
    // Named instances: port of "listening on ... instance NAME".
    int instancePort(const QString& name) const;
    QString statementLog() const { return m_dataDir.path() + QStringLiteral("/statements.log"); }
    QString receivedStatements() const;

    // Runs one batch through FreeTDS's tsql; returns what it printed (stdout and stderr). With
    // freetdsConf, tsql reads that configuration file instead of the system's.
    QString tsql(const QString& batch, const QString& tdsVersion = QStringLiteral("7.4"),
                 const QString& freetdsConf = QString()) const;

private:
    int m_version;
    QStringList m_extra;
    QTemporaryDir m_dataDir;
    QTemporaryDir m_scratch;
    QProcess m_process;
    int m_port = 0;
    QStringList m_lines;
};
