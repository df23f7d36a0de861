// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One cell of a CSV export: quoted where it holds a comma, a quote or a line break, and made
// inert where a spreadsheet would take it for a formula.

#include <string>

namespace norvex::control {

// A cell that starts with '=', '+', '-', '@', a tab or a carriage return is run by
// spreadsheets as a formula: such a cell gets a leading apostrophe, which they show as text.
// Then the cell is quoted when it holds ',', '"', CR or LF (a quote doubled).
std::string csvText(const std::string& cell);

} // namespace norvex::control
