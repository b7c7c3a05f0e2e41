// The statement object bound to the shared connection: a statement text of lines, run either
// for its side effects (execute) or for its first rowset (openRowset), which is read whole.
#pragma once

#include "AdoConnection.h"
#include "FlatStrings.h"
#include "OdbcDiagnostics.h"
#include "StatementWatch.h"

#include <QString>
#include <QStringList>

class AdoQuery {
public:
    explicit AdoQuery(AdoConnection& connection, QString name = QStringLiteral("ADOQuery1"))
        : m_connection(connection), m_name(std::move(name)) {}

    // Setting the text closes an open rowset first.
    void setText(const QString& line) { setLines(QStringList{line}); }
    void setLines(const QStringList& lines);
    void clearLines() { setLines({}); }
    void addLine(const QString& line);
    // Each line is sent followed by CR LF.
    QString text() const;

    // Runs the text and reads every result and message to the end; the first error is thrown.
    void execute();
    // Runs the text and keeps its first row-returning result; current row 1.
    void openRowset();

    void close();
    bool isOpen() const { return m_open; }

    int rowCount() const;
    bool atEnd() const;
    void first();
    void next();
    QString field(const QString& column) const;
    QString firstColumn() const;
    // The same without a copy, valid until the rowset is closed: for reading thousands of rows.
    QStringView firstColumnView() const;

    // Informational messages of the last statement, in the order the driver gave them.
    const QStringList& messages() const { return m_messages; }

    // While set, statements report their messages to the watch as they arrive and can be cancelled
    // through it from another thread. Not owned; null for none.
    void setWatch(StatementWatch* watch) { m_watch = watch; }

private:
    struct Result {
        bool hasRows = false;
        QStringList columns;
        FlatStrings cells; // row after row, columns.size() cells each
    };
    // One statement's round trip, run wherever the wait for the server happens, on what it owns.
    struct Trip;
    Result run(bool wantRows);
    [[noreturn]] void fail(const QString& message) const;
    void requireOpen() const;
    // The current row's cell, after the checks every read makes.
    QStringView currentCell(int column) const;
    int rows() const { return m_columns.isEmpty() ? 0 : int(m_cells.size() / m_columns.size()); }

    AdoConnection& m_connection;
    QString m_name;
    QStringList m_lines;
    QStringList m_messages;
    StatementWatch* m_watch = nullptr;
    bool m_open = false;
    QStringList m_columns;
    FlatStrings m_cells; // row after row, m_columns.size() cells each
    int m_current = 0;
};
