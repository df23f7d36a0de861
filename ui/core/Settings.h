// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings file "norvex.ini", which remembers the serial port between runs, and the
// run-time choices of the Options dialog, which are not stored.
//
// The file's whole content is the 16-byte line "Com_Port_Num:<digit>\r\n", the digit being
// the port number 0..3 (COM 1 .. COM 4). It is rewritten in place and never truncated.

#include "control/EscrowOption.h"

#include <string>

namespace norvex::ui {

inline constexpr const char* SETTINGS_FILE_NAME = "norvex.ini";
inline constexpr int PORT_COUNT = 4;

// "norvex.ini" in `dir`; an empty `dir` means the current directory.
std::string settingsFilePath(const std::string& dir);

// The port number stored in the settings file. A missing or empty file is created holding
// port 0. A file that cannot be opened, holds fewer than 14 bytes or no digit 0..3 at offset
// 13 gives port 0 and is left as it is; `warning` (if given) then says why, else it is cleared.
int loadSettings(const std::string& dir = {}, std::string* warning = nullptr);

// Writes the line for `portNumber` (0..3) at the start of the file, creating it if needed.
// Returns false with `error` set when the number is out of range or the file cannot be
// written.
bool saveSettings(const std::string& dir, int portNumber, std::string& error);

// $HOME/MDB_DATA.TXT, or MDB_DATA.TXT in the current directory when HOME is not set.
std::string defaultDataFilePath();

// The Options dialog's choices as the main window keeps them; all start from these values at
// every run.
// Whether the bus traffic is recorded into the data file: the Options dialog's two radios "No data
// saving" and "Saving data in file".
enum class DataSaving { Off, ToFile };

struct OptionsState {
    control::EscrowOption escrowOption = control::EscrowOption::Manual;
    DataSaving dataSavingOption = DataSaving::Off;  // set at once by the radios
    DataSaving appliedDataSaving = DataSaving::Off; // the data-saving option last put into effect by OK
    std::string dataFilePath = defaultDataFilePath();
    std::string previousDataFilePath = defaultDataFilePath();
};

} // namespace norvex::ui
