// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/core/Settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace norvex::ui;

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(dir); }
    void TearDown() override { std::filesystem::remove_all(dir); }
    void put(const std::string& bytes) const {
        std::ofstream(dir + "/norvex.ini", std::ios::binary) << bytes;
    }
    std::string contents() const {
        std::ostringstream out;
        out << std::ifstream(dir + "/norvex.ini", std::ios::binary).rdbuf();
        return out.str();
    }
    const std::string dir = ::testing::TempDir() + "settings_" + std::to_string(::getpid());
    std::string note;
};

TEST_F(SettingsFile, FirstRunCreatesTheLineAndChangesOverwriteItInPlace) {
    EXPECT_EQ(loadSettings(dir, &note), 0);
    EXPECT_EQ(note, "");
    EXPECT_EQ(contents(), "Com_Port_Num:0\r\n");
    put("Com_Port_Num:0\r\nkept tail");
    ASSERT_TRUE(saveSettings(dir, 2, note)) << note;
    EXPECT_EQ(contents(), "Com_Port_Num:2\r\nkept tail");
    put("Com_Port_Num:3\r\n");
    EXPECT_EQ(loadSettings(dir), 3);
}

TEST_F(SettingsFile, DamagedFileOrBadPortLeavesTheFileAlone) {
    for (const std::string bytes : {"Com_Port_Num:", "Com_Port_Num:7\r\n", "Com_Port_Num:-1\r\n"}) {
        put(bytes);
        EXPECT_EQ(loadSettings(dir, &note), 0) << bytes;
        EXPECT_NE(note, "");
        EXPECT_EQ(contents(), bytes);
    }
    put("Com_Port_Num:1\r\n");
    EXPECT_FALSE(saveSettings(dir, -1, note)); // selector without a selection
    EXPECT_FALSE(saveSettings(dir, 4, note));
    EXPECT_EQ(contents(), "Com_Port_Num:1\r\n");
    EXPECT_FALSE(saveSettings(dir + "/gone", 1, note));
    EXPECT_EQ(note, "Cannot write the settings file " + dir + "/gone/norvex.ini: No such file or directory");
}
