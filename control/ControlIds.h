// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every control and menu command number of the operator interface, each declared once. Numbers
// repeat between windows and bars (1 is the default button of a dialog and of the optics bar,
// 1017 the own button of a bar or of the options window); a look-up always stays within the
// window or bar meant, and within one window or bar no number repeats.

namespace norvex {

// Control numbers.
namespace ids {
// Buttons that every dialog has: the default one (OK, ACCEPT, Read Optics) and the one that
// closes it without acting (Cancel, REJECT, the main window's EXIT).
inline constexpr int OK = 1;
inline constexpr int CANCEL = 2;

// The main window.
inline constexpr int PAGE_FRAME = 1000;
inline constexpr int BILL_LIST = 1001;
inline constexpr int TABS = 1002;
inline constexpr int FEATURE_LEVEL = 1003;
inline constexpr int COUNTRY_CODE = 1004;
inline constexpr int SCALING_FACTOR = 1005;
inline constexpr int DECIMAL_PLACES = 1006;
inline constexpr int STACKER_CAPACITY = 1007;
inline constexpr int MANUFACTURER = 1008;
inline constexpr int PROGRAM_REVISION = 1009;
inline constexpr int CREDIT_DIGIT_0 = 1012; // thousands; 1013..1015 follow
inline constexpr int START = 1016;
inline constexpr int COM_SELECTOR = 1048;
inline constexpr int LINE_NOTE = 1049; // how the port puts the mode bit on the line
inline constexpr int PAGE_BAR_SLOT = 1099;

// The page bars.
inline constexpr int BAR_BUTTON = 1017; // RE-CONNECT, Read Stats, Read Sensors; Options' Browse
inline constexpr int CLEAR_STATS = 1018;
inline constexpr int OPTICS_RED = 1023; // the colour buttons of the optics bar: red .. i.red
inline constexpr int OPTICS_GREEN = 1024;
inline constexpr int OPTICS_BLUE = 1025;
inline constexpr int OPTICS_IRED = 1026;
inline constexpr int TRAFFIC_STOP = 1027;
inline constexpr int NEXT_EVENTS = 1028;
inline constexpr int NEXT_BILLS = 1029;

// The log file window.
inline constexpr int LOG_STATISTICS = 1030;
inline constexpr int LOG_SENSORS = 1031;
inline constexpr int LOG_OPTICS = 1032;
inline constexpr int LOG_VIDEO = 1033;
inline constexpr int LOG_SERIAL = 1034;

// The download progress window.
inline constexpr int PROGRESS = 1036;
inline constexpr int PROGRESS_GROUP = 1037;

// The options window (and BAR_BUTTON as Browse).
inline constexpr int ESCROW_MANUAL = 1042;
inline constexpr int ESCROW_AUTO_RETURN = 1043;
inline constexpr int ESCROW_AUTO_STACK = 1044;
inline constexpr int NO_SAVING = 1045;
inline constexpr int SAVING = 1046;
inline constexpr int DATA_PATH = 1047;
} // namespace ids

// Menu command numbers.
namespace cmd {
inline constexpr int ABOUT = 16;
inline constexpr int RESET = 32771;
inline constexpr int SETUP_REQUEST = 32772;
inline constexpr int SECURITY_SET = 32773;
inline constexpr int STATUS_REQUEST = 32774;
inline constexpr int UNUSED_32775 = 32775;
inline constexpr int CASS_INFO_REQUEST = 32778;
inline constexpr int POLL_20 = 32781;
inline constexpr int POLL_50 = 32782;
inline constexpr int POLL_100 = 32783;
inline constexpr int POLL_150 = 32784;
inline constexpr int POLL_200 = 32785;
inline constexpr int CREATE_LOG_FILE = 32789;
inline constexpr int ENABLE_ALL_BILLS = 32790;
inline constexpr int DISABLE_ALL_BILLS = 32791;
inline constexpr int ENABLE_ALL_ESCROW = 32792;
inline constexpr int DISABLE_ALL_ESCROW = 32793;
inline constexpr int ACCEPT_ESCROW = 32794;
inline constexpr int REJECT_ESCROW = 32795;
inline constexpr int DEVICE_ID_REQUEST = 32796;
inline constexpr int STATISTICS_REQUEST = 32797;
inline constexpr int SENSORS_REQUEST = 32798;
inline constexpr int OPTICS_REQUEST = 32799;
inline constexpr int VIDEO_REQUEST = 32800;
inline constexpr int START_DOWNLOAD = 32801;
inline constexpr int OPTIONS = 32803;
inline constexpr int SERIAL_PORTS = 32804; // the ports dialog
inline constexpr int HELP_TOPICS = 57668;
} // namespace cmd

} // namespace norvex
