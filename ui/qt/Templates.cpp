#include "Templates.h"

#include <array>

namespace norvex::qt {
namespace {

using K = Kind;

// Main window (102). Controls that overlap come later so that they stay on top.
constexpr Control MAIN_CONTROLS[] = {
    {NO_ID, K::Group, "Validator's Properties ", 7, 2, 360, 88},
    {1001, K::List, " Billl Type, Credit:115|stat:38|escr:38|cnt:38", 14, 12, 167, 73},
    {NO_ID, K::LabelRight, "Country Code", 183, 18, 50, 8},
    {1004, K::Field, "", 235, 16, 30, 12},
    {NO_ID, K::LabelRight, "Feature Level", 183, 31, 50, 8},
    {1003, K::Field, "", 235, 29, 30, 12},
    {NO_ID, K::LabelRight, "Cass.Cap.:", 183, 44, 50, 8},
    {1007, K::Field, "", 235, 42, 30, 12},
    {NO_ID, K::LabelRight, "Scaling Fact.", 183, 57, 50, 8},
    {1005, K::Field, "", 235, 55, 30, 12},
    {NO_ID, K::LabelRight, "Decim.Point", 183, 70, 50, 8},
    {1006, K::Field, "", 235, 68, 30, 12},
    {NO_ID, K::LabelRight, "Program rev:", 267, 18, 47, 8},
    {1009, K::Field, "", 316, 16, 44, 12},
    {NO_ID, K::LabelRight, "Manufact:", 267, 31, 47, 8},
    {1008, K::Field, "", 316, 29, 44, 12},
    {NO_ID, K::Label, "Last Credit", 273, 66, 40, 8},
    {NO_ID, K::GreyRect, "", 315, 60, 44, 17},
    {1012, K::Picture, ":/norvex/images/digit0.png", 318, 62, 15, 13},
    {1013, K::Picture, ":/norvex/images/digit0.png", 327, 62, 15, 13},
    {1014, K::Picture, ":/norvex/images/digit0.png", 336, 62, 15, 13},
    {1015, K::Picture, ":/norvex/images/digit0.png", 345, 62, 15, 13},
    {1002, K::Tabs, "Command - Status|Statistics|Sensors|Main Optics|Video Test|View Data Xfer", 7, 94, 360,
     15},
    {1000, K::Group, "activity monitor - poll timer", 7, 107, 360, 123},
    {1048, K::Combo, "COM 1|COM 2|COM 3|COM 4", 225, 234, 44, 58},
    {1016, K::DefaultButton, "START", 273, 232, 45, 17},
    {2, K::Button, "EXIT", 322, 234, 45, 15},
    // How the port makes the MDB mode bit and how answers are framed, shown once the link runs;
    // it ends below EXIT and grows to the left.
    {1049, K::LabelRight, "", 7, 252, 360, 8},
};

constexpr Control ABOUT_CONTROLS[] = {
    {NO_ID, K::Picture, ":/norvex/images/norvex.png", 11, 17, 20, 20},
    {NO_ID, K::Label, "Norvex Version 2.0", 40, 10, 119, 8},
    {1, K::DefaultButton, "OK", 178, 7, 50, 14},
};

constexpr Control ESCROW_CONTROLS[] = {
    {1, K::DefaultButton, "ACCEPT", 90, 7, 50, 20},
    {2, K::Button, "REJECT", 90, 34, 50, 20},
    {NO_ID, K::Label, "Move bill Forward", 12, 16, 73, 10},
    {NO_ID, K::Label, "Move Bill in Reverse", 7, 36, 75, 8},
    {NO_ID, K::Picture, ":/norvex/images/arrow_up.png", 150, 10, 13, 15},
    {NO_ID, K::Picture, ":/norvex/images/arrow_down.png", 150, 37, 13, 15},
};

constexpr Control RECONNECT_BAR_CONTROLS[] = {
    {1017, K::Button, "RE-CONNECT", 7, 1, 56, 14},
};

constexpr Control STATS_BAR_CONTROLS[] = {
    {1017, K::Button, "Read Stats", 165, 2, 42, 13},
    {1018, K::Button, "Clear Stats", 120, 2, 42, 13},
    {1028, K::CheckPush, "Next 9", 77, 2, 36, 12},
    {1029, K::CheckPush, "Next 8", 12, 3, 36, 12},
};

constexpr Control SENSORS_BAR_CONTROLS[] = {
    {1017, K::Button, "Read Sensors", 22, 2, 56, 13},
};

constexpr Control OPTICS_BAR_CONTROLS[] = {
    {1, K::DefaultButton, "Read Optics", 27, 2, 56, 13},
    {1023, K::RadioPush, "red", 102, 2, 26, 13, GROUP_START | CHECKED},
    {1024, K::RadioPush, "green", 128, 2, 26, 13},
    {1025, K::RadioPush, "blue", 154, 2, 26, 13},
    {1026, K::RadioPush, "i.red", 180, 2, 26, 13},
};

constexpr Control COUPON_BAR_CONTROLS[] = {
    {NO_ID, K::LabelCentre, "INSERT  WHITE  \"VLA\" CUPON ( if ready )", 5, 3, 170, 11},
};

constexpr Control TRAFFIC_BAR_CONTROLS[] = {
    {1027, K::CheckPush, "Stop Display", 7, 2, 64, 13}, // wide enough for "Resume Display"
};

constexpr Control LOG_FILE_CONTROLS[] = {
    {NO_ID, K::Group, "Log File Data", 7, 7, 206, 84},
    {1030, K::Check, "Statistics Data", 15, 20, 120, 10, CHECKED},
    {1031, K::Check, "Sensors Data", 15, 33, 120, 10, CHECKED},
    {1032, K::Check, "Main Optics Parameters", 15, 46, 120, 10, CHECKED},
    {1033, K::Check, "White Paper Video Test Results", 15, 59, 130, 10},
    {NO_ID, K::Label, "(Run \"Video Test\" page test)", 27, 72, 130, 8},
    {NO_ID, K::Label, "Serial Number:", 7, 101, 55, 8},
    {1034, K::Edit, "", 64, 99, 70, 12},
    {1, K::DefaultButton, "OK", 163, 98, 50, 14},
    {2, K::Button, "Cancel", 163, 116, 50, 14},
};

constexpr Control DOWNLOAD_CONTROLS[] = {
    {NO_ID, K::Label, "Please wait until download process is finished....", 7, 7, 186, 8},
    {1037, K::Group, "file name:", 7, 20, 186, 40},
    {1036, K::Progress, "", 15, 36, 170, 12},
};

constexpr Control OPTIONS_CONTROLS[] = {
    {NO_ID, K::Group, "Controller Escrow Options", 7, 7, 186, 52},
    {1042, K::Radio, "Manual ( default )", 15, 19, 160, 10, GROUP_START},
    {1043, K::Radio, "Automatic Return", 15, 31, 160, 10},
    {1044, K::Radio, "Automatic Stacking ", 15, 43, 160, 10},
    {NO_ID, K::Group, "Data Saving Options", 7, 64, 186, 58},
    {1045, K::Radio, "No data saving ( default )", 15, 76, 120, 10, GROUP_START},
    {1046, K::Radio, "Saving data in file", 15, 88, 120, 10},
    {1017, K::Button, "Browse", 140, 87, 45, 14},
    {1047, K::Label, "C:\\", 15, 104, 170, 10},
    {1, K::DefaultButton, "OK", 40, 128, 50, 14},
    {2, K::Button, "Cancel", 110, 128, 50, 14},
};

constexpr Template TEMPLATES[] = {
    {templates::ABOUT, "About Norvex", 235, 55, ABOUT_CONTROLS},
    {templates::MAIN, "Tavik (mdb) Diagnostics ", 374, 262, MAIN_CONTROLS},
    {templates::ESCROW, "Bill in ESCROW - options:", 176, 62, ESCROW_CONTROLS},
    {templates::OPTICS_BAR, "", BAR_SLOT_W, BAR_SLOT_H, OPTICS_BAR_CONTROLS},
    {templates::TRAFFIC_BAR, "", BAR_SLOT_W, BAR_SLOT_H, TRAFFIC_BAR_CONTROLS},
    {templates::SENSORS_BAR, "", BAR_SLOT_W, BAR_SLOT_H, SENSORS_BAR_CONTROLS},
    {templates::STATS_BAR, "", BAR_SLOT_W, BAR_SLOT_H, STATS_BAR_CONTROLS},
    {templates::LOG_FILE, "Diagnostics Log File", 220, 137, LOG_FILE_CONTROLS},
    {templates::COUPON_BAR, "", BAR_SLOT_W, BAR_SLOT_H, COUPON_BAR_CONTROLS},
    {templates::DOWNLOAD, "Download in progress", 200, 67, DOWNLOAD_CONTROLS},
    {templates::OPTIONS, "Options", 200, 149, OPTIONS_CONTROLS},
    {templates::RECONNECT_BAR, "", BAR_SLOT_W, BAR_SLOT_H, RECONNECT_BAR_CONTROLS},
};

constexpr std::array<int, 6> PAGE_BARS = {templates::RECONNECT_BAR, templates::STATS_BAR,
                                          templates::SENSORS_BAR,   templates::OPTICS_BAR,
                                          templates::COUPON_BAR,    templates::TRAFFIC_BAR};

using M = MenuKind;
constexpr MenuEntry MENU_142[] = {
    {M::Menu, "Log File", 0},
    {M::Item, "Create Log File", 32789},
    {M::Item, "Options", 32803},
    {M::Item, "Serial Ports...", 32804},
    {M::EndMenu, nullptr, 0},
    {M::Menu, "Commands", 0},
    {M::Item, "RESET", 32771},
    {M::Item, "SETUP request", 32772},
    {M::DisabledItem, "SECURITY set", 32773},
    {M::Item, "STATUS request", 32774},
    {M::SubMenu, "TYPE_ESCR enable", 0},
    {M::Item, "Enable All Bill Types", 32790},
    {M::Item, "Disable All Bill Types", 32791},
    {M::Item, "Enable All Bills Escrow", 32792},
    {M::Item, "Disable All Bills Escrow", 32793},
    {M::EndMenu, nullptr, 0},
    {M::SubMenu, "ESCROW action", 0},
    {M::Item, "Accept Bill in Escrow", 32794},
    {M::Item, "Reject Bill in Escrow", 32795},
    {M::EndMenu, nullptr, 0},
    {M::Item, "CASS_INFO request", 32778},
    {M::EndMenu, nullptr, 0},
    {M::Menu, "Exp.Commands", 0},
    {M::Item, "DEVICE_ID request", 32796},
    {M::Item, "STATISTICS data req.", 32797},
    {M::Item, "SENSORS data req.", 32798},
    {M::Item, "MAIN OPTICS data req.", 32799},
    {M::Item, "VIDEO TEST data req.", 32800},
    {M::EndMenu, nullptr, 0},
    {M::Menu, "Poll_Timer", 0},
    {M::Item, "20 ms", 32781},
    {M::Item, "50 ms", 32782},
    {M::Item, "100 ms", 32783},
    {M::Item, "150 ms", 32784},
    {M::Item, "200 ms", 32785},
    {M::EndMenu, nullptr, 0},
    {M::Menu, "Download", 0},
    {M::Item, "Start Download", 32801},
    {M::EndMenu, nullptr, 0},
    {M::Menu, "Help", 0},
    {M::Item, "&Help Topics", 57668},
    // Linux desktops give the window no system menu; the about box lives here instead.
    {M::Separator, nullptr, 0},
    {M::Item, "&About Norvex...", 16},
    {M::EndMenu, nullptr, 0},
};

} // namespace

const Template* findTemplate(int number) {
    for (const Template& t : TEMPLATES)
        if (t.number == number) return &t;
    return nullptr;
}

const Template* barTemplate(int page) {
    if (page < 0 || page >= static_cast<int>(PAGE_BARS.size())) return nullptr;
    return findTemplate(PAGE_BARS[static_cast<std::size_t>(page)]);
}

std::span<const MenuEntry> mainMenu() {
    return MENU_142;
}

} // namespace norvex::qt
