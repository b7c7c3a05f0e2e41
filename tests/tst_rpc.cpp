// The stand-in answers statements sent as remote procedure calls: a plain ODBC program binds names
// and paths as parameters (SQLBindParameter) and runs every statement Zelvaro sends, prepared
// (sp_prepexec, then sp_execute) and direct (sp_executesql), on every TDS version; malformed RPC
// packets cost the sender its connection and nobody else anything.
#include "DevServer.h"
#include "PlainOdbc.h"
#include "RpcRequest.h"

#include <QDir>
#include <QFile>
#include <QTcpSocket>
#include <QtTest>

#include <sql.h>
#include <sqlext.h>

namespace {

// One bound parameter: the C and SQL types FreeTDS turns into the RPC parameter's TDS type.
struct Param {
    enum Type { NVarChar, VarChar, Int, BigInt, Bit, VarBinary, NVarCharMax } type = NVarChar;
    QString text;
    qint64 number = 0;
    QByteArray bytes;
};
Param nv(const QString& s) {
    return {Param::NVarChar, s, 0, {}};
}

struct Outcome {
    bool ok = true;
    QStringList values; // every row's first column, as text
    QList<int> natives; // server message numbers, in the order the driver reports them
    QString messages;   // every message text, one per line
    SQLSMALLINT columnType = 0;
    SQLULEN columnSize = 0;
    bool has(int native) const { return natives.contains(native); }
};

class Odbc : public PlainOdbc {
public:
    Odbc(int port, const QString& tds) : PlainOdbc(port, tds) {}

    // Prepared: SQLPrepare once (FreeTDS sends sp_prepexec on the first SQLExecute and sp_execute
    // after it). Direct: SQLExecDirect, which is sp_executesql once parameters are bound.
    Outcome run(const QString& sql, const QList<Param>& params, bool prepared) {
        SQLFreeStmt(m_stmt, SQL_CLOSE);
        SQLFreeStmt(m_stmt, SQL_RESET_PARAMS);
        const std::u16string text = sql.toStdU16String();
        if (prepared && sql != m_preparedText) {
            SQLPrepareW(m_stmt, (SQLWCHAR*)text.c_str(), SQLINTEGER(text.size()));
            m_preparedText = sql;
        }
        m_buffers.clear();
        m_buffers.reserve(size_t(params.size()));
        m_lengths.assign(size_t(params.size()), 0);
        for (int i = 0; i < params.size(); ++i)
            bind(SQLUSMALLINT(i + 1), params[i], m_lengths[size_t(i)]);
        Outcome out;
        SQLRETURN rc =
            prepared ? SQLExecute(m_stmt) : SQLExecDirectW(m_stmt, (SQLWCHAR*)text.c_str(), SQL_NTS);
        if (!prepared)
            m_preparedText.clear();
        for (;;) {
            if (rc == SQL_ERROR)
                out.ok = false;
            diagnostics(out);
            if (rc == SQL_NO_DATA)
                break;
            SQLSMALLINT columns = 0;
            SQLNumResultCols(m_stmt, &columns);
            if (columns > 0) {
                SQLWCHAR name[64];
                SQLSMALLINT nameLength, digits, nullable;
                SQLDescribeColW(m_stmt, 1, name, 64, &nameLength, &out.columnType, &out.columnSize, &digits,
                                &nullable);
                while (SQL_SUCCEEDED(SQLFetch(m_stmt))) {
                    std::u16string value(20000, u'\0');
                    SQLLEN length = 0;
                    SQLGetData(m_stmt, 1, SQL_C_WCHAR, value.data(), SQLLEN(value.size() * 2), &length);
                    out.values << (length == SQL_NULL_DATA
                                       ? QStringLiteral("NULL")
                                       : QString::fromStdU16String(value.substr(0, size_t(length) / 2)));
                }
            }
            rc = SQLMoreResults(m_stmt);
        }
        return out;
    }

private:
    void bind(SQLUSMALLINT n, const Param& p, SQLLEN& length) {
        m_buffers.emplace_back();
        QByteArray& b = m_buffers.back();
        SQLSMALLINT cType = SQL_C_WCHAR, sqlType = SQL_WVARCHAR;
        SQLULEN size = 0;
        switch (p.type) {
        case Param::NVarChar:
        case Param::NVarCharMax:
            b = QByteArray(reinterpret_cast<const char*>(p.text.utf16()), int(p.text.size() * 2));
            sqlType = p.type == Param::NVarChar ? SQL_WVARCHAR : SQL_WLONGVARCHAR;
            size = p.type == Param::NVarChar ? SQLULEN(std::max<qsizetype>(1, p.text.size())) : 0;
            break;
        case Param::VarChar:
            b = p.text.toLatin1();
            cType = SQL_C_CHAR, sqlType = SQL_VARCHAR, size = SQLULEN(std::max<qsizetype>(1, b.size()));
            break;
        case Param::Int: {
            const qint32 v = qint32(p.number);
            b = QByteArray(reinterpret_cast<const char*>(&v), 4);
            cType = SQL_C_SLONG, sqlType = SQL_INTEGER;
            break;
        }
        case Param::BigInt:
            b = QByteArray(reinterpret_cast<const char*>(&p.number), 8);
            cType = SQL_C_SBIGINT, sqlType = SQL_BIGINT;
            break;
        case Param::Bit:
            b = QByteArray(1, char(p.number ? 1 : 0));
            cType = SQL_C_BIT, sqlType = SQL_BIT;
            break;
        case Param::VarBinary:
            b = p.bytes;
            cType = SQL_C_BINARY, sqlType = SQL_VARBINARY, size = SQLULEN(std::max<qsizetype>(1, b.size()));
            break;
        }
        length = b.size();
        SQLBindParameter(m_stmt, n, SQL_PARAM_INPUT, cType, sqlType, size, 0, b.data(), b.size(), &length);
    }

    void diagnostics(Outcome& out) {
        for (SQLSMALLINT i = 1;; ++i) {
            SQLWCHAR state[6], text[2048];
            SQLINTEGER native = 0;
            SQLSMALLINT length = 0;
            if (!SQL_SUCCEEDED(
                    SQLGetDiagRecW(SQL_HANDLE_STMT, m_stmt, i, state, &native, text, 2048, &length)))
                break;
            out.natives << int(native);
            out.messages +=
                QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length) + QLatin1Char('\n');
        }
    }

    QString m_preparedText;
    std::vector<QByteArray> m_buffers;
    std::vector<SQLLEN> m_lengths;
};

// A TDS packet: header (type, end of message, big-endian length) and payload.
QByteArray packet(quint8 type, const QByteArray& payload) {
    QByteArray p;
    const int length = 8 + int(payload.size());
    p.append(char(type)).append(char(1)).append(char(length >> 8)).append(char(length & 0xFF));
    p.append(QByteArray(4, '\0')); // SPID, packet number, window
    return p + payload;
}

QByteArray le16(int v) {
    return QByteArray(1, char(v & 0xFF)) + QByteArray(1, char((v >> 8) & 0xFF));
}
QByteArray le32(quint32 v) {
    return le16(int(v & 0xFFFF)) + le16(int(v >> 16));
}
QByteArray utf16(const QString& s) {
    return QByteArray(reinterpret_cast<const char*>(s.utf16()), int(s.size() * 2));
}
QByteArray utf16(const char* s) {
    return utf16(QString::fromLatin1(s));
}

// A LOGIN7 for TDS 7.4 as sa: the fixed part with offsets, then the strings it points at.
QByteArray login7() {
    const QList<QString> strings = {QStringLiteral("probe"),
                                    QStringLiteral("sa"),
                                    QStringLiteral("pvtmo"),
                                    QStringLiteral("probe"),
                                    QStringLiteral("127.0.0.1"),
                                    QString(),
                                    QStringLiteral("probe"),
                                    QString(),
                                    QString()};
    const int fixed = 94;
    QByteArray head = le32(0) + le32(0x74000004) + le32(4096) + le32(7) + le32(1) + le32(0);
    head += QByteArray(4, '\0'); // option flags, type flags, option flags 3
    head += le32(0) + le32(0);   // time zone, LCID
    QByteArray data;
    for (int i = 0; i < strings.size(); ++i) {
        QByteArray bytes = utf16(strings[i]);
        if (i == 2) // the password travels with nibbles swapped and XOR 0xA5
            for (char& c : bytes)
                c = char((((quint8(c) << 4) | (quint8(c) >> 4)) & 0xFF) ^ 0xA5);
        head += le16(fixed + int(data.size())) + le16(int(strings[i].size()));
        data += bytes;
    }
    head += QByteArray(6, '\0');                                // client id
    head += le16(fixed + int(data.size())) + le16(0);           // SSPI
    head += le16(fixed + int(data.size())) + le16(0);           // attach file
    head += le16(fixed + int(data.size())) + le16(0) + le32(0); // new password, SSPI long
    QByteArray whole = head + data;
    const QByteArray length = le32(quint32(whole.size()));
    whole.replace(0, 4, length);
    return whole;
}

QByteArray readReply(QTcpSocket& s) {
    QByteArray all;
    while (s.waitForReadyRead(2000)) {
        all += s.readAll();
        // The reply is complete when a packet with the end-of-message bit has arrived.
        int at = 0;
        bool done = false;
        while (at + 8 <= all.size()) {
            const int length = quint8(all[at + 2]) << 8 | quint8(all[at + 3]);
            if (length < 8 || at + length > all.size())
                break;
            done = all[at + 1] & 1;
            at += length;
        }
        if (done)
            break;
    }
    return all;
}

const QByteArray kAllHeaders = QByteArray::fromHex("16000000120000000200000000000000000001000000");
const QByteArray kCollation = QByteArray::fromHex("0904d00034");

// Parameters as they travel: name, status (1: output), TYPE_INFO, value.
QByteArray nvarcharParam(const QString& name, const QString& value) {
    const QByteArray v = utf16(value);
    return char(name.size()) + utf16(name) + QByteArray::fromHex("00e7401f") + kCollation +
           le16(int(v.size())) + v;
}
QByteArray intParam(const QString& name, int value) {
    return char(name.size()) + utf16(name) + QByteArray::fromHex("00260404") + le32(quint32(value));
}
QByteArray handleOutput() {
    return char(7) + utf16(QStringLiteral("@handle")) + QByteArray::fromHex("01260400");
}
QByteArray rpcById(int id, const QByteArray& params) {
    return kAllHeaders + QByteArray::fromHex("ffff") + le16(id) + le16(0) + params;
}
QByteArray rpcByName(const QString& name, const QByteArray& params) {
    return kAllHeaders + le16(int(name.size())) + utf16(name) + le16(0) + params;
}

// A logged-in raw connection that sends RPC requests and returns each reply's token stream.
class RawSession {
public:
    explicit RawSession(int port) {
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        m_socket.waitForConnected(2000);
        m_socket.write(packet(0x10, login7()));
        m_loggedIn = readReply(m_socket).contains(char(0xAD));
    }
    bool loggedIn() const { return m_loggedIn; }
    QAbstractSocket::SocketState state() const { return m_socket.state(); }
    QByteArray call(const QByteArray& payload) {
        m_socket.write(packet(0x03, payload));
        const QByteArray packets = readReply(m_socket);
        QByteArray tokens;
        for (int at = 0; at + 8 <= packets.size();) {
            const int length = quint8(packets[at + 2]) << 8 | quint8(packets[at + 3]);
            tokens += packets.mid(at + 8, length - 8);
            at += std::max(length, 8);
        }
        return tokens;
    }

private:
    QTcpSocket m_socket;
    bool m_loggedIn = false;
};

// DONEPROC with the given status, as a 7.4 reply ends with it.
QByteArray doneProc(int status) {
    return QByteArray(1, char(0xFE)) + le16(status) + le16(0) + QByteArray(8, '\0');
}

} // namespace

class Rpc : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() {
        QVERIFY(m_2000.isRunning());
        QVERIFY(m_2019.isRunning());
    }

    // Every statement Zelvaro sends, its names and paths passed as parameters wherever SQL Server
    // takes a variable, with the results and messages a batch gets.
    void zelvaroStatements_data() {
        QTest::addColumn<int>("version");
        QTest::addColumn<QString>("tds");
        QTest::addColumn<bool>("prepared");
        for (int version : {2000, 2019})
            for (const char* tds : {"7.1", "7.2", "7.3", "7.4"})
                for (bool prepared : {true, false})
                    QTest::addRow("%d tds %s %s", version, tds, prepared ? "prepared" : "direct")
                        << version << QString::fromLatin1(tds) << prepared;
    }
    void zelvaroStatements() {
        QFETCH(int, version);
        QFETCH(QString, tds);
        QFETCH(bool, prepared);
        DevServer& server = version == 2000 ? m_2000 : m_2019;
        Odbc odbc(server.port(), tds);
        QVERIFY(odbc.connected());
        const QString db = QStringLiteral("Б д' ") + QString::fromLatin1(QTest::currentDataTag());
        const QString restored = db + QStringLiteral(" R");
        const QString folder = server.scratch() + QLatin1Char('/');
        const QString bak = folder + db + QStringLiteral(".bak");

        Outcome o = odbc.run(QStringLiteral("Use Master"), {}, prepared);
        QVERIFY2(o.ok && o.has(5701), qPrintable(o.messages));
        o = odbc.run(QStringLiteral("CREATE DATABASE [%1]").arg(QString(db).replace(QLatin1Char(']'), "]]")),
                     {}, prepared);
        QVERIFY2(o.ok, qPrintable(o.messages));
        o = odbc.run(QStringLiteral("SELECT name FROM master.dbo.sysdatabases WHERE name = ?"), {nv(db)},
                     prepared);
        QCOMPARE(o.values, QStringList{db});
        o = odbc.run(
            QStringLiteral("SELECT CATALOG_NAME FROM INFORMATION_SCHEMA.SCHEMATA Where CATALOG_NAME like ?"),
            {nv(QStringLiteral("master"))}, prepared);
        QCOMPARE(o.values.size(), version == 2000 ? 1 : 13);

        o = odbc.run(QStringLiteral(
                         "Backup Database ? to disk = ? WITH INIT , NOUNLOAD , SKIP , STATS = 10, NOFORMAT"),
                     {nv(db), nv(bak)}, prepared);
        QVERIFY2(o.ok && o.has(3014), qPrintable(o.messages));
        QVERIFY(QFile::exists(bak));
        o = odbc.run(QStringLiteral("RESTORE FILELISTONLY FROM Disk = ?"), {nv(bak)}, prepared);
        QCOMPARE(o.values, (QStringList{db, db + QStringLiteral("_log")}));
        o = odbc.run(QStringLiteral("RESTORE VERIFYONLY FROM DISK = ? WITH FILE = 1"), {nv(bak)}, prepared);
        QVERIFY2(o.ok && o.has(3262), qPrintable(o.messages));
        o = odbc.run(
            QStringLiteral("RESTORE DATABASE ? FROM DISK = ? WITH REPLACE, MOVE ? TO ?, MOVE ? TO ?"),
            {nv(restored), nv(bak), nv(db), nv(folder + QStringLiteral("r.mdf")),
             nv(db + QStringLiteral("_log")), nv(folder + QStringLiteral("r.ldf"))},
            prepared);
        QVERIFY2(o.ok && o.has(3014), qPrintable(o.messages));
        o = odbc.run(QStringLiteral("EXEC sp_detach_db ?, 'true'"), {nv(restored)}, prepared);
        QVERIFY2(o.ok, qPrintable(o.messages));
        o = odbc.run(QStringLiteral("SELECT name FROM master.dbo.sysdatabases WHERE name = ?"),
                     {nv(restored)}, prepared);
        QCOMPARE(o.values, QStringList());
        // File names are literals in CREATE DATABASE: SQL Server takes no variable there.
        o = odbc.run(
            QStringLiteral("CREATE DATABASE [%1] ON PRIMARY (FILENAME = N'%2') LOG ON (FILENAME = N'%3') "
                           "FOR ATTACH")
                .arg(QString(restored).replace(QLatin1Char(']'), "]]"),
                     QString(folder + QStringLiteral("r.mdf")).replace(QLatin1Char('\''), "''"),
                     QString(folder + QStringLiteral("r.ldf")).replace(QLatin1Char('\''), "''")),
            {}, prepared);
        QVERIFY2(o.ok, qPrintable(o.messages));
        o = odbc.run(QStringLiteral("EXEC sp_detach_db @dbname = ?, @skipchecks = 'true'"), {nv(restored)},
                     prepared);
        QVERIFY2(o.ok, qPrintable(o.messages));
        o = odbc.run(QStringLiteral("DROP DATABASE [%1]").arg(QString(db).replace(QLatin1Char(']'), "]]")),
                     {}, prepared);
        QVERIFY2(o.ok, qPrintable(o.messages));

        // The same failures, with the same messages, as the batch forms.
        o = odbc.run(QStringLiteral("BACKUP DATABASE ? TO DISK = ?"), {nv(QStringLiteral("nosuch")), nv(bak)},
                     prepared);
        QVERIFY(!o.ok && o.has(911) && o.has(3013));
        o = odbc.run(QStringLiteral("RESTORE FILELISTONLY FROM DISK = ?"),
                     {nv(folder + QStringLiteral("none.bak"))}, prepared);
        QVERIFY(!o.ok && o.has(3201));
        o = odbc.run(QStringLiteral("EXEC sp_detach_db @dbname = ?"), {nv(QStringLiteral("nosuch"))},
                     prepared);
        QVERIFY(!o.ok && o.has(15010));
        o = odbc.run(QStringLiteral("CREATE DATABASE ?"), {nv(QStringLiteral("x"))}, prepared);
        QVERIFY2(!o.ok && o.has(version == 2000 ? 170 : 102), qPrintable(o.messages));
        QVERIFY(o.messages.contains(QLatin1String("Incorrect syntax near '@P1'.")));
        o = odbc.run(QStringLiteral("nosuchproc"), {}, prepared);
        QVERIFY(!o.ok && o.has(2812));
        QVERIFY(o.messages.contains(QLatin1String("Could not find stored procedure 'nosuchproc'.")));
    }

    // Values arrive as the types they were bound as and come back as the same values; quotes in
    // them stay data.
    void typedValues_data() {
        QTest::addColumn<QString>("tds");
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("expected");
        const QString quoted = QStringLiteral("a'); DROP DATABASE master --");
        for (const char* tds : {"7.1", "7.4"}) {
            const QString t = QString::fromLatin1(tds);
            QTest::addRow("%s int", tds) << t << int(Param::Int) << QStringLiteral("-42");
            QTest::addRow("%s bigint", tds) << t << int(Param::BigInt) << QStringLiteral("9000000000");
            QTest::addRow("%s bit", tds) << t << int(Param::Bit) << QStringLiteral("1");
            QTest::addRow("%s varbinary", tds) << t << int(Param::VarBinary) << QStringLiteral("00ff27");
            QTest::addRow("%s varchar", tds) << t << int(Param::VarChar) << quoted;
            QTest::addRow("%s nvarchar", tds)
                << t << int(Param::NVarChar) << QStringLiteral("Журнал ") + quoted;
        }
        QTest::addRow("7.4 nvarchar(max)")
            << "7.4" << int(Param::NVarCharMax) << QString(5000, QChar(0x0416));
    }
    void typedValues() {
        QFETCH(QString, tds);
        QFETCH(int, type);
        QFETCH(QString, expected);
        Odbc odbc(m_2019.port(), tds);
        QVERIFY(odbc.connected());
        Param p{Param::Type(type), expected, expected.toLongLong(), QByteArray::fromHex(expected.toLatin1())};
        for (bool prepared : {true, false}) {
            const Outcome o = odbc.run(QStringLiteral("SELECT ?"), {p}, prepared);
            QVERIFY2(o.ok, qPrintable(o.messages));
            QCOMPARE(o.values, QStringList{expected});
        }
    }

    // A prepared statement runs again with new values on the handle it got; the handle belongs to
    // the connection.
    void preparedHandleIsReused() {
        Odbc odbc(m_2019.port(), QStringLiteral("7.4"));
        const QString sql = QStringLiteral("SELECT name FROM master.dbo.sysdatabases WHERE name = ?");
        for (const char* name : {"master", "msdb", "nosuch", "tempdb"}) {
            const Outcome o = odbc.run(sql, {nv(QString::fromLatin1(name))}, true);
            QCOMPARE(o.values, QString::fromLatin1(name) == QLatin1String("nosuch")
                                   ? QStringList()
                                   : QStringList{QString::fromLatin1(name)});
        }
    }

    // A string literal over 4,000 characters is nvarchar(max), as SQL Server types it (ntext for
    // clients older than 7.2); at 4,000 it is still nvarchar(4000).
    void longLiteralIsMax_data() {
        QTest::addColumn<QString>("tds");
        QTest::addColumn<int>("maxType");
        QTest::addColumn<int>("maxSize");
        QTest::newRow("7.1") << "7.1" << int(SQL_WLONGVARCHAR) << -1;
        QTest::newRow("7.2") << "7.2" << int(SQL_WVARCHAR) << 0;
        QTest::newRow("7.4") << "7.4" << int(SQL_WVARCHAR) << 0;
    }
    void longLiteralIsMax() {
        QFETCH(QString, tds);
        QFETCH(int, maxType);
        QFETCH(int, maxSize);
        Odbc odbc(m_2019.port(), tds);
        const QString text = QString(4000, QChar(0x0416)) + QLatin1Char('x');
        const Outcome o = odbc.run(QStringLiteral("SELECT N'%1'").arg(text), {}, false);
        QCOMPARE(o.values, QStringList{text});
        QCOMPARE(int(o.columnType), maxType);
        if (maxSize >= 0)
            QCOMPARE(int(o.columnSize), maxSize);
        const Outcome short_ =
            odbc.run(QStringLiteral("SELECT N'%1'").arg(QString(4000, QLatin1Char('x'))), {}, false);
        QCOMPARE(int(short_.columnType), int(SQL_WVARCHAR));
        QCOMPARE(int(short_.columnSize), 4000);
    }

    // Broken RPC requests after a good login. A stream that cannot be read on costs the sender its
    // connection; a parameter of unknown type or impossible length gets SQL Server's 8009 or 8016
    // and the connection stays. Nobody else notices either.
    void malformedRequests_data() {
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QString>("message"); // "" when the connection is closed
        const QByteArray call = kAllHeaders + QByteArray::fromHex("ffff0a000000");
        const QString prefix =
            QStringLiteral("The incoming tabular data stream (TDS) remote procedure call (RPC) "
                           "protocol stream is incorrect. Parameter 1 (\"\"): Data type ");
        QTest::newRow("nothing after the headers") << kAllHeaders << "";
        QTest::newRow("headers longer than the packet") << QByteArray::fromHex("ff000000") << "";
        QTest::newRow("headers shorter than themselves") << QByteArray::fromHex("02000000") << "";
        QTest::newRow("procedure id cut") << kAllHeaders + QByteArray::fromHex("ffff0a") << "";
        QTest::newRow("name longer than the packet") << kAllHeaders + QByteArray::fromHex("4000730070") << "";
        QTest::newRow("parameter name cut") << call + QByteArray::fromHex("0a4000") << "";
        QTest::newRow("ntext length past the end")
            << call + QByteArray::fromHex("000063ffff0000") + kCollation + QByteArray::fromHex("ffffff7f4100")
            << "";
        QTest::newRow("endless PLP") << call + QByteArray::fromHex("0000e7ffff") + kCollation +
                                            QByteArray::fromHex("feffffffffffffff") +
                                            QByteArray::fromHex("ffffff00")
                                     << "";
        QTest::newRow("procedure id 0") << kAllHeaders + QByteArray::fromHex("ffff00000000") << "";
        QTest::newRow("unknown type")
            << call + QByteArray::fromHex("0000ee0400") << prefix + "0xEE is unknown.";
        QTest::newRow("nvarchar odd bytes")
            << call + QByteArray::fromHex("0000e76400") + kCollation + QByteArray::fromHex("0300410042")
            << prefix + "0xE7 has an invalid data length or metadata length.";
        QTest::newRow("int of 3 bytes") << call + QByteArray::fromHex("0000260403010203")
                                        << prefix + "0x26 has an invalid data length or metadata length.";
    }
    void malformedRequests() {
        QFETCH(QByteArray, payload);
        QFETCH(QString, message);
        RawSession session(m_2019.port());
        QVERIFY(session.loggedIn());
        const QByteArray reply = session.call(payload);
        if (message.isEmpty()) {
            QCOMPARE(reply, QByteArray());
            QTRY_COMPARE_WITH_TIMEOUT(session.state(), QAbstractSocket::UnconnectedState, 3000);
        } else {
            QVERIFY(reply.contains(utf16(message)));
            QVERIFY(reply.endsWith(doneProc(0x02).replace(3, 2, le16(0xE0))));
            QCOMPARE(
                session.call(rpcById(10, nvarcharParam(QString(), QStringLiteral("SELECT 5")))).mid(0, 1),
                QByteArray(1, char(0x81)));
        }
        QVERIFY(m_2019.isRunning());
        Odbc odbc(m_2019.port(), QStringLiteral("7.4"));
        QCOMPARE(odbc.run(QStringLiteral("SELECT 1"), {}, true).values, QStringList{QStringLiteral("1")});
    }

    // Every value type the decoder reads, then the same request cut short at every byte and with
    // every byte overwritten: it answers false or decodes, and never reads past the request.
    void decoderReadsValuesAndSurvivesDamage() {
        const QByteArray collation = QByteArray::fromHex("0904d00034");
        const QByteArray text = utf16(QStringLiteral("SELECT @P1"));
        QByteArray call = QByteArray::fromHex("ffff0d000000");
        call += QByteArray::fromHex("00012604") + QByteArray::fromHex("00");                 // @handle OUTPUT
        call += QByteArray::fromHex("000063ffffff7f") + collation + le32(8) + utf16("@P1 "); // @params
        call += QByteArray::fromHex("000063ffffff7f") + collation + le32(quint32(text.size())) + text;
        call += QByteArray::fromHex("0000e76400") + collation + le16(4) + utf16(QStringLiteral("Жx"));
        call += QByteArray::fromHex("0000e7ffff") + collation + QByteArray::fromHex("0400000000000000") +
                le32(2) + utf16(QStringLiteral("a")) + le32(2) + utf16(QStringLiteral("b")) +
                le32(0);                                       // PLP in two chunks
        call += QByteArray::fromHex("0000260404feffffff");     // int -2
        call += QByteArray::fromHex("00007f0000000000000080"); // bigint minimum
        call += QByteArray::fromHex("0000a508000300010203");   // varbinary
        call +=
            QByteArray::fromHex("0000a70800") + collation + le16(2) + QByteArray("\xe9z"); // varchar, Latin-1
        call += QByteArray::fromHex("000068010101");                                       // bit 1
        const QByteArray second = le16(6) + utf16(QStringLiteral("sp_who")) + le16(0);
        const QByteArray request = kAllHeaders + call + QByteArray(1, char(0x80)) + second;

        auto decode = [](const QByteArray& bytes, std::vector<rpc::Call>& calls) {
            const std::vector<uint8_t> payload(bytes.begin(), bytes.end());
            rpc::BadParameter bad;
            return rpc::decode(payload, true, calls, bad) == rpc::Decoded::Ok;
        };
        std::vector<rpc::Call> calls;
        QVERIFY(decode(request, calls));
        QCOMPARE(calls.size(), size_t(2));
        QCOMPARE(calls[0].procId, quint16(13));
        QCOMPARE(calls[1].procName, std::string("sp_who"));
        const auto& p = calls[0].params;
        QCOMPARE(p.size(), size_t(10));
        QVERIFY(p[0].output() && p[0].value.kind == rpc::Value::Null);
        QCOMPARE(p[2].value.text, std::string("SELECT @P1"));
        QCOMPARE(QString::fromStdString(p[3].value.text), QStringLiteral("Жx"));
        QCOMPARE(p[4].value.text, std::string("ab"));
        QCOMPARE(p[5].value.integer, -2LL);
        QCOMPARE(p[6].value.integer, std::numeric_limits<long long>::min());
        QCOMPARE(p[7].value.text, std::string("\x01\x02\x03"));
        QCOMPARE(QString::fromStdString(p[8].value.text), QStringLiteral("éz"));
        QCOMPARE(p[9].value.integer, 1LL);

        // Cut short, it decodes (if at all) as a beginning of what was sent: whole calls and whole
        // parameters of the same values, never one read from beyond the cut.
        const std::vector<rpc::Call> whole = calls;
        for (int n = 0; n < request.size(); ++n) {
            if (!decode(request.left(n), calls))
                continue;
            QVERIFY2(!calls.empty() && calls.size() <= whole.size(), qPrintable(QString::number(n)));
            for (size_t c = 0; c < calls.size(); ++c) {
                QCOMPARE(calls[c].procId, whole[c].procId);
                QCOMPARE(calls[c].procName, whole[c].procName);
                QVERIFY(calls[c].params.size() <= whole[c].params.size());
                for (size_t i = 0; i < calls[c].params.size(); ++i) {
                    QCOMPARE(calls[c].params[i].value.text, whole[c].params[i].value.text);
                    QCOMPARE(calls[c].params[i].value.integer, whole[c].params[i].value.integer);
                }
            }
        }
        // Damaged, it may decode differently, but every call it finds starts somewhere in the
        // request: no more calls than a call's smallest size fits into it.
        for (int i = 0; i < request.size(); ++i)
            for (char b : {char(0x00), char(0x7F), char(0x80), char(0xFE), char(0xFF)}) {
                QByteArray damaged = request;
                damaged[i] = b;
                if (decode(damaged, calls))
                    QVERIFY2(calls.size() <= whole.size(), qPrintable(QStringLiteral("byte %1 = %2").arg(i).arg(int(uchar(b)))));
            }
    }

    // sp_prepare hands back a handle (RETURNSTATUS, then RETURNVALUE), sp_execute runs it with new
    // values until sp_unprepare frees it; parameters may come by name; errors are SQL Server's.
    void proceduresOnTheWire() {
        RawSession session(m_2019.port());
        QVERIFY(session.loggedIn());
        const QString select = QStringLiteral("SELECT name FROM master.dbo.sysdatabases WHERE name = @n");
        QByteArray reply =
            session.call(rpcById(11, handleOutput() + nvarcharParam(QString(), QStringLiteral("@n sysname")) +
                                         nvarcharParam(QString(), select)));
        const QByteArray handleReturned = QByteArray::fromHex("7900000000") + QByteArray::fromHex("ac0000") +
                                          char(7) + utf16(QStringLiteral("@handle")) +
                                          QByteArray::fromHex("01000000000100260404") + le32(1);
        QVERIFY(reply.startsWith(handleReturned));
        QVERIFY(reply.endsWith(doneProc(0)));

        reply = session.call(
            rpcById(12, intParam(QString(), 1) + nvarcharParam(QString(), QStringLiteral("msdb"))));
        QVERIFY(reply.contains(utf16(QStringLiteral("msdb"))));
        QVERIFY(reply.contains(QByteArray::fromHex("ff1100c100") +
                               QByteArray::fromHex("0100000000000000"))); // DONEINPROC
        QVERIFY(reply.endsWith(QByteArray::fromHex("7900000000") + doneProc(0)));

        reply = session.call(rpcById(15, intParam(QString(), 1)));
        QCOMPARE(reply, QByteArray::fromHex("7900000000") + doneProc(0));
        reply = session.call(rpcById(12, intParam(QString(), 1)));
        QVERIFY(reply.contains(utf16(QStringLiteral("Could not find prepared statement with handle 1."))));

        reply =
            session.call(rpcByName(QStringLiteral("sp_executesql"),
                                   nvarcharParam(QStringLiteral("@stmt"), QStringLiteral("SELECT @N")) +
                                       nvarcharParam(QStringLiteral("@params"), QStringLiteral("@n int")) +
                                       intParam(QStringLiteral("@n"), 7)));
        QVERIFY(reply.contains(QByteArray::fromHex("d10407000000")));
        // An output parameter the statement does not assign comes back with the value it brought.
        QByteArray output = intParam(QStringLiteral("@x"), 5);
        output[1 + 4] = 0x01;
        reply =
            session.call(rpcById(10, nvarcharParam(QString(), QStringLiteral("SELECT 1")) +
                                         nvarcharParam(QString(), QStringLiteral("@x int OUTPUT")) + output));
        QVERIFY(reply.endsWith(QByteArray::fromHex("7900000000ac0200") + char(2) +
                               utf16(QStringLiteral("@x")) +
                               QByteArray::fromHex("0100000000010026040405000000") + doneProc(0)));
        reply = session.call(rpcById(10, nvarcharParam(QString(), QStringLiteral("SELECT @n")) +
                                             nvarcharParam(QString(), QStringLiteral("@n int"))));
        QVERIFY(reply.contains(utf16(QStringLiteral("expects the parameter '@n', which was not supplied."))));
        reply = session.call(rpcById(10, nvarcharParam(QString(), QStringLiteral("SELECT 1")) +
                                             nvarcharParam(QString(), QString()) + intParam(QString(), 1)));
        QVERIFY(reply.contains(utf16(QStringLiteral("too many arguments specified."))));

        // Two calls in one request: the first DONEPROC says more follows.
        const QByteArray one = rpcById(10, nvarcharParam(QString(), QStringLiteral("SELECT 1")));
        const QByteArray two =
            QByteArray::fromHex("ffff0a000000") + nvarcharParam(QString(), QStringLiteral("SELECT 2"));
        reply = session.call(one + char(0x80) + two);
        QVERIFY(reply.contains(QByteArray::fromHex("7900000000") + doneProc(0x01)));
        QVERIFY(reply.contains(QByteArray::fromHex("d10402000000")));
        QVERIFY(reply.endsWith(QByteArray::fromHex("7900000000") + doneProc(0)));

        reply = session.call(rpcByName(QStringLiteral("sp_detach_db"),
                                       nvarcharParam(QStringLiteral("@dbname"), QStringLiteral("nosuch"))));
        QVERIFY(reply.contains(utf16(QStringLiteral("The database 'nosuch' does not exist."))));
        QVERIFY(reply.endsWith(QByteArray::fromHex("7901000000") + doneProc(0x02).replace(3, 2, le16(0xE0))));
    }

    // Called by id, the special procedures take their leading parameters by position whatever the
    // client names them (one widely used client names sp_executesql's first one @statement); called
    // by name, they are matched by name in any order.
    void leadingParametersByPosition_data() {
        QTest::addColumn<QByteArray>("setup"); // sent first on the same connection, when not empty
        QTest::addColumn<QByteArray>("payload");
        QTest::addColumn<QByteArray>("expected");                     // bytes the reply must hold
        const QByteArray seven = QByteArray::fromHex("d10407000000"); // ROW: int 7
        const QByteArray select = nvarcharParam(QStringLiteral("@s"), QStringLiteral("SELECT @n"));
        QByteArray handle = handleOutput();
        handle.replace(1, 14, utf16(QStringLiteral("@hhhhhh")));
        const QByteArray prepare =
            rpcById(11, handle + nvarcharParam(QStringLiteral("@p"), QStringLiteral("@n int")) + select);
        QTest::newRow("sp_executesql by id, @statement")
            << QByteArray()
            << rpcById(10, nvarcharParam(QStringLiteral("@statement"), QStringLiteral("SELECT @n")) +
                               nvarcharParam(QStringLiteral("@params"), QStringLiteral("@n int")) +
                               intParam(QStringLiteral("@n"), 7))
            << seven;
        QTest::newRow("sp_executesql by id, other names")
            << QByteArray()
            << rpcById(10, select + nvarcharParam(QStringLiteral("@p"), QStringLiteral("@n int")) +
                               intParam(QString(), 7))
            << seven;
        QTest::newRow("sp_prepexec by id, other names")
            << QByteArray()
            << rpcById(13, handle + nvarcharParam(QStringLiteral("@p"), QStringLiteral("@n int")) + select +
                               intParam(QString(), 7))
            << seven;
        QTest::newRow("sp_execute by id, handle named otherwise")
            << prepare << rpcById(12, intParam(QStringLiteral("@h"), 1) + intParam(QString(), 7)) << seven;
        QTest::newRow("sp_unprepare by id, handle named otherwise")
            << prepare << rpcById(15, intParam(QStringLiteral("@h"), 1))
            << QByteArray::fromHex("7900000000") + doneProc(0);
        QTest::newRow("sp_executesql by name, names in another order")
            << QByteArray()
            << rpcByName(QStringLiteral("sp_executesql"),
                         nvarcharParam(QStringLiteral("@params"), QStringLiteral("@n int")) +
                             intParam(QStringLiteral("@n"), 7) +
                             nvarcharParam(QStringLiteral("@stmt"), QStringLiteral("SELECT @n")))
            << seven;
    }
    void leadingParametersByPosition() {
        QFETCH(QByteArray, setup);
        QFETCH(QByteArray, payload);
        QFETCH(QByteArray, expected);
        RawSession session(m_2019.port());
        QVERIFY(session.loggedIn());
        if (!setup.isEmpty())
            QVERIFY(session.call(setup).endsWith(doneProc(0)));
        const QByteArray reply = session.call(payload);
        QVERIFY2(reply.contains(expected), reply.toHex().constData());
        QVERIFY(reply.endsWith(doneProc(0)));
    }

    // The file procedures called by name, arguments by position, as clients ask the server about a
    // path: the row xp_fileexist gives and the entries xp_dirtree lists.
    void fileProceduresByName() {
        QFile file(m_2019.scratch() + QStringLiteral("/файл.bak"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        RawSession session(m_2019.port());
        QVERIFY(session.loggedIn());
        QByteArray reply = session.call(rpcByName(QStringLiteral("master.dbo.xp_fileexist"),
                                                  nvarcharParam(QString(), file.fileName())));
        const auto row = [](int a, int b, int c) {
            return QByteArray::fromHex("d104") + le32(a) + char(4) + le32(b) + char(4) + le32(c);
        };
        const QByteArray ended = QByteArray::fromHex("7900000000") + doneProc(0).replace(3, 2, le16(0xE0));
        const QByteArray existsRow = row(1, 0, 1);
        QVERIFY2(reply.contains(existsRow), reply.toHex().constData());
        QVERIFY(reply.endsWith(ended));
        reply = session.call(rpcByName(QStringLiteral("xp_fileexist"),
                                       nvarcharParam(QString(), m_2019.scratch() + QStringLiteral("/none/x"))));
        QVERIFY(reply.contains(row(0, 0, 0)));
        reply = session.call(rpcByName(QStringLiteral("xp_dirtree"), nvarcharParam(QString(), m_2019.scratch()) +
                                                                          intParam(QString(), 1) +
                                                                          intParam(QString(), 1)));
        QVERIFY2(reply.contains(utf16(QStringLiteral("файл.bak"))), reply.toHex().constData());
        QVERIFY(reply.endsWith(ended));
    }

    // A well-formed call to a procedure the stand-in does not have gets SQL Server's message.
    void unknownProcedureByName() {
        QTcpSocket s;
        s.connectToHost(QStringLiteral("127.0.0.1"), quint16(m_2019.port()));
        QVERIFY(s.waitForConnected(2000));
        s.write(packet(0x10, login7()));
        readReply(s);
        s.write(packet(0x03, kAllHeaders + le16(6) + utf16(QStringLiteral("sp_who")) + le16(0)));
        const QByteArray reply = readReply(s);
        QVERIFY(reply.contains(utf16(QStringLiteral("Could not find stored procedure 'sp_who'."))));
        QCOMPARE(quint8(reply.at(reply.size() - 13)), quint8(0xFE)); // ends with DONEPROC
    }

private:
    DevServer m_2000{2000};
    DevServer m_2019{2019};
};

QTEST_GUILESS_MAIN(Rpc)
#include "tst_rpc.moc"
