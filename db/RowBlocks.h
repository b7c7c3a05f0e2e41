// Reading a rowset a block of rows per driver call, into columns bound as text. For the long lists
// (thousands of databases) this halves the calls into the driver manager and the driver: one
// fetch per block instead of a fetch and a get per value.
#pragma once

#include "FlatStrings.h"

#include <sql.h>
#include <sqlext.h>
#include <vector>

namespace rowblocks {

// The longest text, in UTF-16 units, a value of the column can turn into; 0 when the column has no
// bound small enough to be read this way (max and long types), and must be read piece by piece.
SQLULEN textWidth(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT type, SQLULEN size);

// Reads the rest of the current result into cells, row after row (NULL as an empty text), with
// widths[i] the textWidth of column i + 1. Returns what the last fetch returned. A value that did
// not fit its width sets *truncated; the cell then holds what fitted. The statement is left with
// nothing bound and one row per fetch, as it was.
SQLRETURN readAll(SQLHSTMT stmt, const std::vector<SQLULEN>& widths, FlatStrings& cells, bool* truncated);

} // namespace rowblocks
