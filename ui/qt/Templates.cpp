// SPDX-License-Identifier: GPL-3.0-or-later
#include "Templates.h"

#include <array>

namespace norvex::qt {
namespace {

using K = Kind;

// Main window (102). Controls that overlap come later so that they stay on top.
constexpr Control MAIN_CONTROLS[] = {
    {NO_ID, K::Group, "Validator's Properties ", 7, 2, 360, 88},
    {ids::BILL_LIST, K::List, " Billl Type, Credit:115|stat:38|escr:38|cnt:38", 14, 12, 167, 73},
    {NO_ID, K::LabelRight, "Country Code", 183, 18, 50, 8},
    {ids::COUNTRY_CODE, K::Field, "", 235, 16, 30, 12},
    {NO_ID, K::LabelRight, "Feature Level", 183, 31, 50, 8},
    {ids::FEATURE_LEVEL, K::Field, "", 235, 29, 30, 12},
    {NO_ID, K::LabelRight, "Cass.Cap.:", 183, 44, 50, 8},
    {ids::STACKER_CAPACITY, K::Field, "", 235, 42, 30, 12},
    {NO_ID, K::LabelRight, "Scaling Fact.", 183, 57, 50, 8},
    {ids::SCALING_FACTOR, K::Field, "", 235, 55, 30, 12},
    {NO_ID, K::LabelRight, "Decim.Point", 183, 70, 50, 8},
    {ids::DECIMAL_PLACES, K::Field, "", 235, 68, 30, 12},
    {NO_ID, K::LabelRight, "Program rev:", 267, 18, 47, 8},
    {ids::PROGRAM_REVISION, K::Field, "", 316, 16, 44, 12},
    {NO_ID, K::LabelRight, "Manufact:", 267, 31, 47, 8},
    {ids::MANUFACTURER, K::Field, "", 316, 29, 44, 12},
    {NO_ID, K::Label, "Last Credit", 273, 66, 40, 8},
    {NO_ID, K::GreyRect, "", 315, 60, 44, 17},
    {ids::CREDIT_DIGIT_0, K::Picture, ":/norvex/images/digit0.png", 318, 62, 15, 13},
    {ids::CREDIT_DIGIT_0 + 1, K::Picture, ":/norvex/images/digit0.png", 327, 62, 15, 13},
    {ids::CREDIT_DIGIT_0 + 2, K::Picture, ":/norvex/images/digit0.png", 336, 62, 15, 13},
    {ids::CREDIT_DIGIT_0 + 3, K::Picture, ":/norvex/images/digit0.png", 345, 62, 15, 13},
    {ids::TABS, K::Tabs, "Command - Status|Statistics|Sensors|Main Optics|Video Test|View Data Xfer", 7, 94,
     360, 15},
    {ids::PAGE_FRAME, K::Group, "activity monitor - poll timer", 7, 107, 360, 123},
    {ids::COM_SELECTOR, K::Combo, "COM 1|COM 2|COM 3|COM 4", 225, 234, 44, 58},
    {ids::START, K::DefaultButton, "START", 273, 232, 45, 17},
    {ids::CANCEL, K::Button, "EXIT", 322, 234, 45, 15},
    // How the port makes the MDB mode bit and how answers are framed, shown once the link runs;
    // it ends below EXIT and grows to the left.
    {ids::LINE_NOTE, K::LabelRight, "", 7, 252, 360, 8},
};

constexpr Control ABOUT_CONTROLS[] = {
    {NO_ID, K::Picture, ":/norvex/images/norvex.png", 11, 17, 20, 20},
    {NO_ID, K::Label, "Norvex Version 2.0", 40, 10, 119, 8},
    {ids::OK, K::DefaultButton, "OK", 178, 7, 50, 14},
};

constexpr Control ESCROW_CONTROLS[] = {
    {ids::OK, K::DefaultButton, "ACCEPT", 90, 7, 50, 20},
    {ids::CANCEL, K::Button, "REJECT", 90, 34, 50, 20},
    {NO_ID, K::Label, "Move bill Forward", 12, 16, 73, 10},
    {NO_ID, K::Label, "Move Bill in Reverse", 7, 36, 75, 8},
    {NO_ID, K::Picture, ":/norvex/images/arrow_up.png", 150, 10, 13, 15},
    {NO_ID, K::Picture, ":/norvex/images/arrow_down.png", 150, 37, 13, 15},
};

constexpr Control RECONNECT_BAR_CONTROLS[] = {
    {ids::BAR_BUTTON, K::Button, "RE-CONNECT", 7, 1, 56, 14},
};

constexpr Control STATS_BAR_CONTROLS[] = {
    {ids::BAR_BUTTON, K::Button, "Read Stats", 165, 2, 42, 13},
    {ids::CLEAR_STATS, K::Button, "Clear Stats", 120, 2, 42, 13},
    {ids::NEXT_EVENTS, K::CheckPush, "Next 9", 77, 2, 36, 12},
    {ids::NEXT_BILLS, K::CheckPush, "Next 8", 12, 3, 36, 12},
};

constexpr Control SENSORS_BAR_CONTROLS[] = {
    {ids::BAR_BUTTON, K::Button, "Read Sensors", 22, 2, 56, 13},
};

constexpr Control OPTICS_BAR_CONTROLS[] = {
    {ids::OK, K::DefaultButton, "Read Optics", 27, 2, 56, 13},
    {ids::OPTICS_RED, K::RadioPush, "red", 102, 2, 26, 13, GROUP_START | CHECKED},
    {ids::OPTICS_GREEN, K::RadioPush, "green", 128, 2, 26, 13},
    {ids::OPTICS_BLUE, K::RadioPush, "blue", 154, 2, 26, 13},
    {ids::OPTICS_IRED, K::RadioPush, "i.red", 180, 2, 26, 13},
};

constexpr Control COUPON_BAR_CONTROLS[] = {
    {NO_ID, K::LabelCentre, "INSERT  WHITE  \"VLA\" CUPON ( if ready )", 5, 3, 170, 11},
};

constexpr Control TRAFFIC_BAR_CONTROLS[] = {
    {ids::TRAFFIC_STOP, K::CheckPush, "Stop Display", 7, 2, 64, 13}, // wide enough for "Resume Display"
};

constexpr Control LOG_FILE_CONTROLS[] = {
    {NO_ID, K::Group, "Log File Data", 7, 7, 206, 84},
    {ids::LOG_STATISTICS, K::Check, "Statistics Data", 15, 20, 120, 10, CHECKED},
    {ids::LOG_SENSORS, K::Check, "Sensors Data", 15, 33, 120, 10, CHECKED},
    {ids::LOG_OPTICS, K::Check, "Main Optics Parameters", 15, 46, 120, 10, CHECKED},
    {ids::LOG_VIDEO, K::Check, "White Paper Video Test Results", 15, 59, 130, 10},
    {NO_ID, K::Label, "(Run \"Video Test\" page test)", 27, 72, 130, 8},
    {NO_ID, K::Label, "Serial Number:", 7, 101, 55, 8},
    {ids::LOG_SERIAL, K::Edit, "", 64, 99, 70, 12},
    {ids::OK, K::DefaultButton, "OK", 163, 98, 50, 14},
    {ids::CANCEL, K::Button, "Cancel", 163, 116, 50, 14},
};

constexpr Control DOWNLOAD_CONTROLS[] = {
    {NO_ID, K::Label, "Please wait until download process is finished....", 7, 7, 186, 8},
    {ids::PROGRESS_GROUP, K::Group, "file name:", 7, 20, 186, 40},
    {ids::PROGRESS, K::Progress, "", 15, 36, 170, 12},
};

constexpr Control OPTIONS_CONTROLS[] = {
    {NO_ID, K::Group, "Controller Escrow Options", 7, 7, 186, 52},
    {ids::ESCROW_MANUAL, K::Radio, "Manual ( default )", 15, 19, 160, 10, GROUP_START},
    {ids::ESCROW_AUTO_RETURN, K::Radio, "Automatic Return", 15, 31, 160, 10},
    {ids::ESCROW_AUTO_STACK, K::Radio, "Automatic Stacking ", 15, 43, 160, 10},
    {NO_ID, K::Group, "Data Saving Options", 7, 64, 186, 58},
    {ids::NO_SAVING, K::Radio, "No data saving ( default )", 15, 76, 120, 10, GROUP_START},
    {ids::SAVING, K::Radio, "Saving data in file", 15, 88, 120, 10},
    {ids::BAR_BUTTON, K::Button, "Browse", 140, 87, 45, 14},
    {ids::DATA_PATH, K::Label, "C:\\", 15, 104, 170, 10},
    {ids::OK, K::DefaultButton, "OK", 40, 128, 50, 14},
    {ids::CANCEL, K::Button, "Cancel", 110, 128, 50, 14},
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

constexpr std::array<int, PAGE_COUNT> PAGE_BARS = {templates::RECONNECT_BAR, templates::STATS_BAR,
                                                   templates::SENSORS_BAR,   templates::OPTICS_BAR,
                                                   templates::COUPON_BAR,    templates::TRAFFIC_BAR};

using M = MenuKind;
constexpr MenuEntry MENU_142[] = {
    {M::Menu, "&Log File", 0},
    {M::Item, "&Create Log File", cmd::CREATE_LOG_FILE},
    {M::Item, "&Options", cmd::OPTIONS},
    {M::Item, "&Serial Ports...", cmd::SERIAL_PORTS},
    {M::EndMenu, nullptr, 0},
    {M::Menu, "&Commands", 0},
    {M::Item, "&RESET", cmd::RESET},
    {M::Item, "&SETUP request", cmd::SETUP_REQUEST},
    {M::DisabledItem, "SEC&URITY set", cmd::SECURITY_SET},
    {M::Item, "S&TATUS request", cmd::STATUS_REQUEST},
    {M::SubMenu, "T&YPE_ESCR enable", 0},
    {M::Item, "&Enable All Bill Types", cmd::ENABLE_ALL_BILLS},
    {M::Item, "&Disable All Bill Types", cmd::DISABLE_ALL_BILLS},
    {M::Item, "Enable All Bills E&scrow", cmd::ENABLE_ALL_ESCROW},
    {M::Item, "Disable All Bills Escro&w", cmd::DISABLE_ALL_ESCROW},
    {M::EndMenu, nullptr, 0},
    {M::SubMenu, "&ESCROW action", 0},
    {M::Item, "&Accept Bill in Escrow", cmd::ACCEPT_ESCROW},
    {M::Item, "&Reject Bill in Escrow", cmd::REJECT_ESCROW},
    {M::EndMenu, nullptr, 0},
    {M::Item, "&CASS_INFO request", cmd::CASS_INFO_REQUEST},
    {M::EndMenu, nullptr, 0},
    {M::Menu, "&Exp.Commands", 0},
    {M::Item, "&DEVICE_ID request", cmd::DEVICE_ID_REQUEST},
    {M::Item, "S&TATISTICS data req.", cmd::STATISTICS_REQUEST},
    {M::Item, "&SENSORS data req.", cmd::SENSORS_REQUEST},
    {M::Item, "&MAIN OPTICS data req.", cmd::OPTICS_REQUEST},
    {M::Item, "&VIDEO TEST data req.", cmd::VIDEO_REQUEST},
    {M::EndMenu, nullptr, 0},
    {M::Menu, "&Poll_Timer", 0},
    {M::Item, "&20 ms", cmd::POLL_20},
    {M::Item, "&50 ms", cmd::POLL_50},
    {M::Item, "&100 ms", cmd::POLL_100},
    {M::Item, "15&0 ms", cmd::POLL_150},
    {M::Item, "200 &ms", cmd::POLL_200},
    {M::EndMenu, nullptr, 0},
    {M::Menu, "&Download", 0},
    {M::Item, "&Start Download", cmd::START_DOWNLOAD},
    {M::EndMenu, nullptr, 0},
    {M::Menu, "&Help", 0},
    {M::Item, "&Help Topics", cmd::HELP_TOPICS},
    // Linux desktops give the window no system menu; the about box lives here instead.
    {M::Separator, nullptr, 0},
    {M::Item, "&About Norvex...", cmd::ABOUT},
    {M::EndMenu, nullptr, 0},
};

} // namespace

const Template* findTemplate(int number) {
    for (const Template& t : TEMPLATES)
        if (t.number == number) return &t;
    return nullptr;
}

const Template* barTemplate(Page page) {
    const int index = tabIndex(page);
    if (index < 0 || index >= static_cast<int>(PAGE_BARS.size())) return nullptr;
    return findTemplate(PAGE_BARS[static_cast<std::size_t>(index)]);
}

std::span<const MenuEntry> mainMenu() {
    return MENU_142;
}

} // namespace norvex::qt
