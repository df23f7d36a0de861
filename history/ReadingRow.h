// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A reading as one table row, the same in the history and in the outbox: the columns, the
// values that fill them, and the reading read back from a row. A row read back may come from
// an older program or a damaged database: missing cells, cells of the wrong size and text
// that is not a time give an incomplete reading, never a fault.

#include "history/Database.h"
#include "history/Reading.h"

#include <string>
#include <vector>

namespace norvex::history {

// "id, serial, taken_at, ..., video": the sixteen columns in the order of readingValues().
const char* readingColumns();
// "$1, $2, ..., $16" after `first` - 1 other parameters.
std::string readingPlaceholders(int first = 1);
std::vector<Value> readingValues(const Reading& reading);
Reading readingFromRow(const Row& row);

} // namespace norvex::history
