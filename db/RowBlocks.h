// Reading a rowset a block of rows per driver call, into columns bound as text. For the long lists
// (thousands of databases) this replaces a fetch and a read per value, each through the driver
// manager, with one fetch per few hundred rows.
#pragma once

#include "FlatStrings.h"

#include <sql.h>
#include <sqlext.h>
#include <vector>

namespace rowblocks {

// The longest text, in UTF-16 units, a value of a column of this ODBC type and declared size
// (as SQLDescribeCol gives them) can turn into; 0 when there is no bound small enough to bind
// (max and long types, types we do not know), and the column must be read piece by piece.
SQLULEN textWidth(SQLSMALLINT type, SQLULEN size);

// Reads the rest of the current result into cells, row after row (NULL as an empty text), with
// widths[i] the textWidth of column i + 1, rowsPerFetch rows per driver call. Returns what the
// last fetch returned. A value that did not fit its width sets *truncated; the cell then holds
// what fitted. The statement is left with nothing bound and one row per fetch, as it was.
SQLRETURN readAll(SQLHSTMT stmt, const std::vector<SQLULEN>& widths, SQLULEN rowsPerFetch, FlatStrings& cells,
                  bool* truncated);

// As many rows per fetch as keep a block's buffers small, at most a few hundred.
SQLULEN rowsPerBlock(const std::vector<SQLULEN>& widths);

} // namespace rowblocks
