#include "RowBlocks.h"

#include <algorithm>

namespace rowblocks {

namespace {
// Longer values are rare enough to read piece by piece.
const SQLULEN kWidestBound = 4000;
// Room for digits, signs and exponents beyond the display size a driver states for numbers,
// dates and the like: their conversion to text is the driver's own and need not stick to it.
const SQLULEN kNumberSlack = 16;
// A block's buffers stay small whatever the row width; never more rows than this per fetch.
const size_t kBlockBytes = 256 * 1024;
const SQLULEN kMostRows = 256;
} // namespace

SQLULEN textWidth(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT type, SQLULEN size) {
    switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
        // A character of a single-byte or UTF-8 column is at most one UTF-16 unit more.
        return size > 0 && size <= kWidestBound ? size : 0;
    case SQL_BINARY:
    case SQL_VARBINARY:
        // Two hexadecimal digits a byte.
        return size > 0 && size <= kWidestBound / 2 ? 2 * size : 0;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_LONGVARBINARY:
        return 0;
    default: {
        SQLLEN display = 0;
        if (!SQL_SUCCEEDED(
                SQLColAttributeW(stmt, column, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &display)) ||
            display <= 0 || SQLULEN(display) > kWidestBound)
            return 0;
        return SQLULEN(display) + kNumberSlack;
    }
    }
}

SQLRETURN readAll(SQLHSTMT stmt, const std::vector<SQLULEN>& widths, FlatStrings& cells, bool* truncated) {
    const size_t columns = widths.size();
    size_t rowBytes = 0;
    for (SQLULEN width : widths)
        rowBytes += (width + 1) * sizeof(SQLWCHAR) + sizeof(SQLLEN);
    const SQLULEN rows = std::clamp<SQLULEN>(kBlockBytes / rowBytes, 1, kMostRows);

    // Column after column: each column's values side by side, with their lengths beside them.
    std::vector<std::vector<SQLWCHAR>> text(columns);
    std::vector<std::vector<SQLLEN>> lengths(columns);
    std::vector<SQLUSMALLINT> status(rows);
    SQLULEN fetched = 0;
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0);
    for (size_t c = 0; c < columns; ++c) {
        text[c].resize(rows * (widths[c] + 1));
        lengths[c].resize(rows);
        SQLBindCol(stmt, SQLUSMALLINT(c + 1), SQL_C_WCHAR, text[c].data(),
                   SQLLEN((widths[c] + 1) * sizeof(SQLWCHAR)), lengths[c].data());
    }

    SQLRETURN rc;
    while (SQL_SUCCEEDED(rc = SQLFetch(stmt))) {
        for (SQLULEN r = 0; r < fetched; ++r) {
            if (status[r] != SQL_ROW_SUCCESS && status[r] != SQL_ROW_SUCCESS_WITH_INFO)
                continue;
            for (size_t c = 0; c < columns; ++c) {
                const SQLLEN length = lengths[c][r];
                const SQLULEN capacity = widths[c];
                if (length != SQL_NULL_DATA) {
                    SQLULEN units =
                        length == SQL_NO_TOTAL ? capacity + 1 : SQLULEN(length) / sizeof(SQLWCHAR);
                    if (units > capacity) {
                        *truncated = true;
                        units = capacity;
                    }
                    cells.appendPiece(reinterpret_cast<const QChar*>(&text[c][r * (capacity + 1)]),
                                      qsizetype(units));
                }
                cells.endString();
            }
        }
    }

    // The buffers go with this function: a later result must not be written into them.
    SQLFreeStmt(stmt, SQL_UNBIND);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
    SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    return rc;
}

} // namespace rowblocks
