#include "RowBlocks.h"

#include <algorithm>

namespace rowblocks {

namespace {
// Longer values are rare enough to read piece by piece.
const SQLULEN kWidestBound = 4000;
// Room beyond the digits a number, date or identifier needs: the driver's conversion to text is
// its own (signs, exponents, fractions) and need not keep to the shortest form.
const SQLULEN kSlack = 16;
const size_t kBlockBytes = 256 * 1024;
const SQLULEN kMostRows = 256;

SQLULEN withSlack(SQLULEN digits) {
    return digits + kSlack;
}
} // namespace

SQLULEN textWidth(SQLSMALLINT type, SQLULEN size) {
    switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
        // A character of a single-byte or UTF-8 column is at most one UTF-16 unit more.
        return size > 0 && size <= kWidestBound ? size : 0;
    case SQL_BINARY:
    case SQL_VARBINARY:
        return size > 0 && size <= kWidestBound / 2 ? 2 * size : 0; // two hex digits a byte
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT:
        return withSlack(20);
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
        return withSlack(24);
    case SQL_NUMERIC:
    case SQL_DECIMAL:
        return size <= 38 ? withSlack(size + 2) : 0; // sign and decimal point
    case SQL_GUID:
        return withSlack(36);
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
        return size > 0 && size <= 64 ? withSlack(size) : 0;
    default:
        return 0;
    }
}

SQLULEN rowsPerBlock(const std::vector<SQLULEN>& widths) {
    size_t rowBytes = 0;
    for (SQLULEN width : widths)
        rowBytes += (width + 1) * sizeof(SQLWCHAR) + sizeof(SQLLEN);
    return std::clamp<SQLULEN>(kBlockBytes / std::max<size_t>(rowBytes, 1), 1, kMostRows);
}

SQLRETURN readAll(SQLHSTMT stmt, const std::vector<SQLULEN>& widths, SQLULEN rowsPerFetch, FlatStrings& cells,
                  bool* truncated) {
    const size_t columns = widths.size();
    const SQLULEN rows = std::max<SQLULEN>(rowsPerFetch, 1);
    // Column after column, each column's values side by side: one buffer for the texts, one for
    // their lengths.
    std::vector<size_t> start(columns + 1, 0);
    for (size_t c = 0; c < columns; ++c)
        start[c + 1] = start[c] + rows * (widths[c] + 1);
    std::vector<SQLWCHAR> text(start[columns]);
    std::vector<SQLLEN> lengths(rows * columns);
    std::vector<SQLUSMALLINT> status(rows, SQL_ROW_SUCCESS);
    SQLULEN fetched = 1;
    if (rows > 1) {
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0);
    }
    for (size_t c = 0; c < columns; ++c)
        SQLBindCol(stmt, SQLUSMALLINT(c + 1), SQL_C_WCHAR, &text[start[c]],
                   SQLLEN((widths[c] + 1) * sizeof(SQLWCHAR)), &lengths[c * rows]);

    SQLRETURN rc;
    while (SQL_SUCCEEDED(rc = SQLFetch(stmt))) {
        for (SQLULEN r = 0; r < fetched; ++r) {
            if (status[r] != SQL_ROW_SUCCESS && status[r] != SQL_ROW_SUCCESS_WITH_INFO)
                continue;
            for (size_t c = 0; c < columns; ++c) {
                const SQLLEN length = lengths[c * rows + r];
                const SQLULEN capacity = widths[c];
                if (length != SQL_NULL_DATA) {
                    SQLULEN units =
                        length == SQL_NO_TOTAL ? capacity + 1 : SQLULEN(length) / sizeof(SQLWCHAR);
                    if (units > capacity) {
                        *truncated = true;
                        units = capacity;
                    }
                    cells.appendPiece(reinterpret_cast<const QChar*>(&text[start[c] + r * (capacity + 1)]),
                                      qsizetype(units));
                }
                cells.endString();
            }
        }
    }

    // The buffers go with this function: a later result must not be written into them.
    SQLFreeStmt(stmt, SQL_UNBIND);
    if (rows > 1) {
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
        SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    }
    return rc;
}

} // namespace rowblocks
