// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The application object: the Qt application with Norvex's look, running the main window
// until it closes.

#include "link/PortMap.h"

#include <QApplication>

#include <string>

namespace norvex::qt {

class Application final : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);

    // Shows the main window and returns the exit status once it has closed (or once the
    // firmware download ended the application).
    // `portsFile` keeps the ports dialog's assignments (none kept when empty); `historyUrl`: where
    // the readings are kept (none kept when empty).
    int run(link::PortMap& ports, const std::string& portsFile = {}, const std::string& historyUrl = {});

    // Icon and dialog font of every Norvex window (also for a QApplication made elsewhere).
    static void applyLook();
};

} // namespace norvex::qt
