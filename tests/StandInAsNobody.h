// A stand-in started as nobody from the first (as mssql starts): its listening socket is nobody's,
// so the window knows whom the server runs as. Stopped when the object goes. Root only.
#pragma once

#include "AdoConnection.h"
#include "AdoQuery.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>

struct StandInAsNobody {
    QTemporaryDir data;
    QProcess process;
    int port = 0;
    int version = 2019;
    QStringList extra; // further options of the stand-in
    bool start() {
        QFile::setPermissions(data.path(), QFileDevice::Permissions(0x7777));
        process.start(QStringLiteral("setpriv"),
                      QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                       QStringLiteral("--clear-groups"), QStringLiteral(ZELVARO_DEVSERVER),
                       QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--browser-port"),
                       QStringLiteral("0"), QStringLiteral("--version"), QString::number(version),
                       QStringLiteral("--data-dir"), data.path()} +
                          extra);
        if (!process.waitForStarted(5000))
            return false;
        QElapsedTimer waited;
        waited.start();
        while (port == 0 && waited.elapsed() < 5000) {
            process.waitForReadyRead(200);
            while (process.canReadLine()) {
                const auto m = QRegularExpression(QStringLiteral(":(\\d+)"))
                                   .match(QString::fromUtf8(process.readLine()));
                if (m.hasMatch() && port == 0)
                    port = m.captured(1).toInt();
            }
        }
        return port != 0;
    }
    QString dataSource() const { return QStringLiteral("127.0.0.1,%1").arg(port); }
    QString connectionString() const {
        return QStringLiteral("Provider=SQLNCLI11.0;Persist Security Info=False;Data Source=%1;User "
                              "ID=sa;Password=pvtmo")
            .arg(dataSource());
    }
    void run(const QString& statement) const {
        AdoConnection c;
        c.setConnectionString(connectionString());
        AdoQuery q(c);
        q.setText(statement);
        q.execute();
    }
    // The first column of every row of a query, on a connection of its own.
    QStringList rows(const QString& query) const {
        AdoConnection c;
        c.setConnectionString(connectionString());
        AdoQuery q(c);
        q.setText(query);
        q.openRowset();
        QStringList out;
        for (; !q.atEnd(); q.next())
            out << q.firstColumn();
        return out;
    }
    ~StandInAsNobody() {
        process.terminate();
        process.waitForFinished(3000);
    }
};
