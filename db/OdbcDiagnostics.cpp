#include "OdbcDiagnostics.h"

#include <climits>
#include <vector>

namespace odbcdiag {

QString fromWide(const SQLWCHAR* text, int length) {
    if (length < 0) {
        length = 0;
        while (text[length])
            ++length;
    }
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(text), length);
}

QList<OdbcRecord> read(SQLSMALLINT handleType, SQLHANDLE handle) {
    QList<OdbcRecord> records;
    if (!handle)
        return records;
    // Asking for the count first spares the call that finds no further record; without a count,
    // records are read until there is none.
    SQLINTEGER count = SHRT_MAX;
    if (!SQL_SUCCEEDED(
            SQLGetDiagFieldW(handleType, handle, 0, SQL_DIAG_NUMBER, &count, SQL_IS_INTEGER, nullptr)))
        count = SHRT_MAX;
    for (SQLSMALLINT i = 1; i <= count; ++i) {
        SQLWCHAR state[6] = {};
        SQLINTEGER native = 0;
        SQLWCHAR text[512];
        SQLSMALLINT textLength = 0;
        SQLRETURN rc = SQLGetDiagRecW(handleType, handle, i, state, &native, text, 512, &textLength);
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO)
            break;
        if (textLength < 512) {
            records.append({fromWide(state, 5), int(native), fromWide(text, textLength)});
            continue;
        }
        // A long message: read it again whole.
        std::vector<SQLWCHAR> whole(size_t(textLength) + 1);
        SQLGetDiagRecW(handleType, handle, i, state, &native, whole.data(), SQLSMALLINT(whole.size()),
                       &textLength);
        records.append({fromWide(state, 5), int(native),
                        fromWide(whole.data(), qMin<int>(textLength, int(whole.size()) - 1))});
    }
    return records;
}

QString cleanMessage(const OdbcRecord& record) {
    QString text = record.text;
    while (text.startsWith(QLatin1Char('['))) {
        const int close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            break;
        text.remove(0, close + 1);
    }
    int end = text.size();
    while (end > 0) {
        const QChar c = text[end - 1];
        if (c.isSpace() || c.category() == QChar::Other_Control || c == QLatin1Char('.'))
            --end;
        else
            break;
    }
    text.truncate(end);
    if (text.isEmpty())
        return QStringLiteral("ODBC error, SQLSTATE %1").arg(record.state);
    return text;
}

bool isInformational(const OdbcRecord& record) {
    return record.state.startsWith(QLatin1String("01"));
}

QString errorMessage(const QList<OdbcRecord>& records, const QString& fallback) {
    const OdbcRecord* chosen = nullptr;
    for (const OdbcRecord& r : records) {
        if (isInformational(r))
            continue;
        if (r.native != 3013) {
            chosen = &r;
            break;
        }
        if (!chosen)
            chosen = &r;
    }
    if (!chosen && !records.isEmpty())
        chosen = &records.first();
    return chosen ? cleanMessage(*chosen) : fallback;
}

bool isLinkFailure(const OdbcRecord& record) {
    // FreeTDS files the server's "database does not exist" (911, 4060) under 08004, "server
    // rejected the connection": on a connection already made that is a refusal of one statement,
    // and the link is fine.
    return record.state.startsWith(QLatin1String("08")) && record.state != QLatin1String("08004");
}

} // namespace odbcdiag
