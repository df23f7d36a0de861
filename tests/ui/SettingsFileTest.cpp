#include "ui/core/Settings.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace norvex::ui;

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(dir_); }
    void TearDown() override { std::filesystem::remove_all(dir_); }
    void put(const std::string& bytes) const {
        std::ofstream(dir_ + "/norvex.ini", std::ios::binary) << bytes;
    }
    std::string contents() const {
        std::ostringstream out;
        out << std::ifstream(dir_ + "/norvex.ini", std::ios::binary).rdbuf();
        return out.str();
    }
    const std::string dir_ = ::testing::TempDir() + "settings_" + std::to_string(::getpid());
    std::string note_;
};

TEST_F(SettingsFile, FirstRunCreatesTheLineAndChangesOverwriteItInPlace) {
    EXPECT_EQ(loadSettings(dir_, &note_), 0);
    EXPECT_EQ(note_, "");
    EXPECT_EQ(contents(), "Com_Port_Num:0\r\n");
    put("Com_Port_Num:0\r\nkept tail");
    ASSERT_TRUE(saveSettings(dir_, 2, note_)) << note_;
    EXPECT_EQ(contents(), "Com_Port_Num:2\r\nkept tail");
    put("Com_Port_Num:3\r\n");
    EXPECT_EQ(loadSettings(dir_), 3);
}

TEST_F(SettingsFile, DamagedFileOrBadPortLeavesTheFileAlone) {
    for (const std::string bytes : {"Com_Port_Num:", "Com_Port_Num:7\r\n", "Com_Port_Num:-1\r\n"}) {
        put(bytes);
        EXPECT_EQ(loadSettings(dir_, &note_), 0) << bytes;
        EXPECT_NE(note_, "");
        EXPECT_EQ(contents(), bytes);
    }
    put("Com_Port_Num:1\r\n");
    EXPECT_FALSE(saveSettings(dir_, -1, note_)); // selector without a selection
    EXPECT_FALSE(saveSettings(dir_, 4, note_));
    EXPECT_EQ(contents(), "Com_Port_Num:1\r\n");
    EXPECT_FALSE(saveSettings(dir_ + "/gone", 1, note_));
    EXPECT_EQ(note_,
              "Cannot write the settings file " + dir_ + "/gone/norvex.ini: No such file or directory");
}
