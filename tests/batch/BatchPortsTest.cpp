// SPDX-License-Identifier: GPL-3.0-or-later
// Which device a batch run opens: the window's port assignments count as they do in the window,
// the command line still wins, and a port that does not open says why.

#include "BatchHarness.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace norvex::batch;
using namespace norvex::ui;
using namespace batchtest;

TEST(BatchPorts, AssignmentsCountTheCommandLineWinsAndADamagedFileIsSaidAndIgnored) {
    TempDir dir;
    SimProcess sim({});
    const std::string simPath = sim.port()[2].substr(5); // "COM1=PATH"
    std::ofstream(dir / "ports.conf") << "# assigned in the window\nCOM3=" << simPath << "\n";

    DirectRun assigned(Args{"--batch", "--com", "3", "--seconds", "1"}, dir);
    ASSERT_EQ(assigned.status, batch_status::OK) << assigned.err;
    EXPECT_TRUE(contains(assigned.out, "RESET validator")) << assigned.out;

    const std::string nothing = (dir / "ttyNothing").string();
    DirectRun overridden(Args{"--batch", "--port", "COM3=" + nothing, "--com", "3"}, dir);
    EXPECT_EQ(overridden.status, batch_status::NO_CONNECTION);
    EXPECT_TRUE(contains(overridden.err,
                         "Info: No Connection\n" + nothing + " is not there: is the adapter plugged in?"))
        << overridden.err;

    std::ofstream(dir / "ports.conf") << "COM3=" << simPath << "\nCOM3=" << simPath << "\n";
    DirectRun damaged(Args{"--batch", "--com", "3"}, dir);
    EXPECT_EQ(damaged.status, batch_status::NO_CONNECTION) << "COM 3 is back at its default";
    EXPECT_TRUE(contains(damaged.err, "ports.conf line 2 is damaged")) << damaged.err;
    EXPECT_TRUE(contains(damaged.err, "/dev/ttyUSB2")) << damaged.err;
}
