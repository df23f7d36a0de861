// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window templates as data: every control of a window with its id, kind, text and
// rectangle in dialog units. buildTemplate() (TemplateBuilder.h) turns a table into widgets.

#include "control/ControlIds.h"
#include "control/Page.h"

#include <span>

namespace norvex::qt {

// One dialog unit is 1.5 pixels across and 1.625 pixels down, for every template.
inline constexpr double DU_X = 1.5;
inline constexpr double DU_Y = 1.625;

inline constexpr int NO_ID = -1;

enum class Kind {
    Group,         // frame with caption
    Label,         // static text, left aligned
    LabelRight,    // static text, right aligned
    LabelCentre,   // static text, centred horizontally and vertically
    Field,         // centred text in a sunken frame (numbered text field)
    Picture,       // image from the resources, shown at its own size; text = resource path
    GreyRect,      // filled grey rectangle
    Button,        // push button
    DefaultButton, // push button pressed by Enter
    CheckPush,     // push button that stays down (toggles)
    RadioPush,     // push-like radio button
    Radio,         // radio button
    Check,         // check box
    Edit,          // one-line text edit
    Combo,         // drop-down list; text = the entries separated by '|'
    Tabs,          // tab bar; text = the tab texts separated by '|'
    List,          // report-style list; text = "header:width|header:width|..."
    Progress,      // progress bar
};

enum ControlFlags : unsigned {
    NONE = 0,
    GROUP_START = 1, // first radio button of a group
    CHECKED = 2,     // check box or radio button checked when created
};

struct Control {
    int id;
    Kind kind;
    const char* text;
    int x, y, w, h;
    unsigned flags = NONE;
};

struct Template {
    int number;
    const char* title;
    int w, h; // client size in dialog units
    std::span<const Control> controls;
};

namespace templates {
inline constexpr int ABOUT = 100;
inline constexpr int MAIN = 102;
inline constexpr int ESCROW = 143;
inline constexpr int OPTICS_BAR = 146;
inline constexpr int TRAFFIC_BAR = 147;
inline constexpr int SENSORS_BAR = 148;
inline constexpr int STATS_BAR = 149;
inline constexpr int LOG_FILE = 150;
inline constexpr int COUPON_BAR = 151;
inline constexpr int DOWNLOAD = 152;
inline constexpr int OPTIONS = 154;
inline constexpr int RECONNECT_BAR = 155;
} // namespace templates

// The template with that number; nullptr for an unknown number.
const Template* findTemplate(int number);
// The bar template of `page`; nullptr for a value that names no page.
const Template* barTemplate(Page page);

// Where the page bar goes in the main window, in dialog units.
inline constexpr int BAR_SLOT_X = 10, BAR_SLOT_Y = 232, BAR_SLOT_W = 210, BAR_SLOT_H = 18;
// Where the escrow prompt opens, relative to the main window's client area, in dialog units.
inline constexpr int ESCROW_PROMPT_X = 185, ESCROW_PROMPT_Y = 8;

// Menu 142: top-level menus, their items and sub-menus, in order. Each text marks its access key
// with '&', unique within its menu, so that the keyboard reaches every menu and item.
enum class MenuKind { Menu, SubMenu, EndMenu, Item, DisabledItem, Separator };
struct MenuEntry {
    MenuKind kind;
    const char* text;
    int command;
};
std::span<const MenuEntry> mainMenu();

} // namespace norvex::qt
