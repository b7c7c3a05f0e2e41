// The single error kind of the database layer: what the window shows to the user, and the numbers
// the server and the driver gave with it.
#pragma once

#include <QList>
#include <QString>
#include <stdexcept>

class DbError : public std::runtime_error {
public:
    // One diagnostic record: its SQLSTATE and native number (the server's message number, or the
    // driver's own code; 0 when neither is known).
    struct Record {
        QString state;
        int native = 0;
    };

    explicit DbError(const QString& message, QList<Record> records = {})
        : std::runtime_error(message.toStdString()), m_message(message), m_records(std::move(records)) {}
    const QString& message() const { return m_message; }
    // The record whose text is shown comes first, then the others in the driver's order; empty for
    // errors of this layer's own making.
    const QList<Record>& records() const { return m_records; }

    // The server ended the connection after sending this error (SQL Server does so at severity 20
    // and above): the statement failed, and the link is gone.
    bool endedConnection() const { return m_endedConnection; }
    void setEndedConnection() { m_endedConnection = true; }

private:
    QString m_message;
    QList<Record> m_records;
    bool m_endedConnection = false;
};
