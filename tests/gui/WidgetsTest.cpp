// SPDX-License-Identifier: GPL-3.0-or-later
// The binding's parts on their own: paint surfaces, templates, small windows, command line.

#include "GuiTestApp.h"
#include "ui/qt/AboutDialog.h"
#include "ui/qt/CommandLine.h"
#include "ui/qt/DownloadProgressDialog.h"
#include "ui/qt/EscrowPrompt.h"
#include "ui/qt/LogFileDialog.h"
#include "ui/qt/OptionsDialog.h"
#include "ui/qt/PageBar.h"
#include "ui/qt/PainterSurface.h"
#include "ui/qt/TemplateBuilder.h"
#include "ui/qt/WidgetDownloadUi.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace norvex::test {
namespace {

class WidgetsTest : public ::testing::Test {
protected:
    void SetUp() override { guiApp(); }
};

QImage blankImage(QSize size = QSize(60, 40)) {
    QImage img(size, QImage::Format_RGB32);
    img.fill(Qt::white);
    return img;
}

TEST_F(WidgetsTest, SurfaceFillsExcludeRightAndBottomAndLinesLeaveOutTheirEndPoint) {
    QImage img = blankImage();
    {
        QPainter p(&img);
        qt::PainterSurface s(p);
        s.fillRect({10, 10, 20, 15}, colours::RED);
        s.drawLine(0, 30, 10, 30, colours::TEAL, 1);
        s.fillRect({30, 5, 30, 9}, colours::BLUE); // empty: nothing drawn
    }
    EXPECT_EQ(img.pixelColor(10, 10), QColor(255, 0, 0));
    EXPECT_EQ(img.pixelColor(19, 14), QColor(255, 0, 0));
    EXPECT_EQ(img.pixelColor(20, 14), QColor(Qt::white));
    EXPECT_EQ(img.pixelColor(19, 15), QColor(Qt::white));
    EXPECT_EQ(img.pixelColor(0, 30), QColor(0, 159, 159));
    EXPECT_EQ(img.pixelColor(9, 30), QColor(0, 159, 159));
    EXPECT_EQ(img.pixelColor(10, 30), QColor(Qt::white));
    EXPECT_EQ(img.pixelColor(30, 5), QColor(Qt::white));
}

TEST_F(WidgetsTest, SurfaceTextIsOpaqueFromItsTopLeftAndFitsTheDrawingsRows) {
    QImage img = blankImage(QSize(80, 40));
    {
        QPainter p(&img);
        qt::PainterSurface(p).drawText(5, 5, "ff", colours::GREEN, colours::STRIPE_GREEN);
    }
    EXPECT_EQ(img.pixelColor(5, 5), QColor(0, 204, 0)) << "background from the top-left corner";
    EXPECT_EQ(img.pixelColor(4, 5), QColor(Qt::white));
    EXPECT_EQ(img.pixelColor(5, 4), QColor(Qt::white));
    const QFontMetrics fm(qt::pageFont());
    EXPECT_LE(fm.height(), 14) << "rows 14 pixels apart must not overlap";
    EXPECT_GE(fm.height(), 11);
    EXPECT_LE(fm.horizontalAdvance("00"), 20) << "two digits fit a traffic cell";
}

TEST_F(WidgetsTest, ImageSurfaceTakesClientCoordinates) {
    QImage img = blankImage(QSize(524, 172));
    qt::ImageSurface s(img, QPoint(18, 194));
    s.fillRect({30, 198, 530, 214}, colours::BLACK);
    EXPECT_EQ(img.pixelColor(12, 4), QColor(0, 0, 0));
    EXPECT_EQ(img.pixelColor(11, 4), QColor(Qt::white));
    EXPECT_EQ(img.pixelColor(12, 20), QColor(Qt::white));
}

TEST_F(WidgetsTest, DialogUnitsPlaceThePageFrameAroundThePageArea) {
    const QRect frame = qt::duToPx(7, 107, 360, 123);
    EXPECT_LT(frame.left(), 18);
    EXPECT_LT(frame.top(), 194);
    EXPECT_GT(frame.right(), 541);
    EXPECT_GT(frame.bottom(), 365);
    // The bar slot sits below the page frame.
    EXPECT_GE(qt::duToPx(qt::BAR_SLOT_X, qt::BAR_SLOT_Y, qt::BAR_SLOT_W, qt::BAR_SLOT_H).top(),
              frame.bottom());
}

TEST_F(WidgetsTest, EveryBarTemplateFitsItsSlotAndItsButtonsReportTheirIds) {
    for (int page = 0; page < 6; ++page) {
        const qt::Template* t = qt::barTemplate(*pageAtTab(page));
        ASSERT_NE(t, nullptr);
        for (const qt::Control& c : t->controls) {
            EXPECT_LE(c.x + c.w, qt::BAR_SLOT_W) << "template " << t->number << " control " << c.id;
            EXPECT_LE(c.y + c.h, qt::BAR_SLOT_H) << "template " << t->number << " control " << c.id;
        }
    }
    QWidget parent;
    std::vector<int> pressed;
    qt::PageBar optics(Page::MainOptics, &parent, [&](int id) { pressed.push_back(id); });
    optics.controls().get<QPushButton>(1026)->click();
    QTest::keyClick(&optics, Qt::Key_Return); // Enter is "Read Optics"
    EXPECT_EQ(pressed, (std::vector<int>{1026, 1}));
    EXPECT_TRUE(optics.controls().get<QPushButton>(1026)->isChecked());
    EXPECT_FALSE(optics.controls().get<QPushButton>(1023)->isChecked()) << "the colours are one group";
}

// Every caption of every window and bar as built, at the application's font: a text wider than
// its control is cut off on the screen.
TEST_F(WidgetsTest, EveryCaptionFitsItsControlAtTheFontInUse) {
    std::vector<std::unique_ptr<QWidget>> windows;
    windows.emplace_back(new qt::AboutDialog(nullptr));
    windows.emplace_back(new qt::EscrowPrompt(nullptr, {}));
    windows.emplace_back(new qt::LogFileDialog(nullptr, {}));
    windows.emplace_back(new qt::OptionsDialog(nullptr, control::EscrowOption::Manual, ui::DataSaving::ToFile,
                                               "/home/technician/MDB_DATA.TXT", {}));
    windows.emplace_back(new qt::DownloadProgressDialog(nullptr));
    for (int page = 0; page < 6; ++page)
        windows.emplace_back(new qt::PageBar(*pageAtTab(page), nullptr, [](int) {}));
    int checked = 0;
    for (const auto& window : windows) {
        for (QWidget* w : window->findChildren<QWidget*>()) {
            EXPECT_EQ(captionOverflow(w), "")
                << window->metaObject()->className() << " " << w->objectName().toStdString();
            ++checked;
        }
    }
    EXPECT_GT(checked, 40);
}

TEST_F(WidgetsTest, LogFileDialogReportsItsChoiceAndKeepsTheSerialNumberShortAndPathFree) {
    std::vector<qt::LogFileDialog::Choice> oks;
    int video = 0, cancels = 0;
    auto* dlg = new qt::LogFileDialog(
        nullptr, {[&](const auto& c) { oks.push_back(c); }, [&] { ++cancels; }, [&] { ++video; }});
    const qt::LogFileDialog::Choice start = dlg->choice();
    EXPECT_TRUE(start.statistics && start.sensors && start.optics);
    EXPECT_FALSE(start.video);

    auto* serial = dlg->controls().get<QLineEdit>(1034);
    QTest::keyClicks(serial, "AB/12\\345678901");
    EXPECT_EQ(serial->text(), "AB12345678") << "no path separators, at most ten characters";
    dlg->controls().get<QCheckBox>(1033)->click();
    EXPECT_EQ(video, 1);
    dlg->controls().get<QPushButton>(1)->click();
    dlg->reject(); // a second end is ignored
    ASSERT_EQ(oks.size(), 1u);
    EXPECT_EQ(oks[0].serialNumber, "AB12345678");
    EXPECT_TRUE(oks[0].video);
    EXPECT_EQ(cancels, 0);
    settle();
}

TEST_F(WidgetsTest, DownloadFilterBecomesTheFileDialogsFilter) {
    EXPECT_EQ(qt::WidgetDownloadUi::qtFilter("VNTprogram_file(*.TVK)|*.TVK|"), "VNTprogram_file(*.TVK)");
    EXPECT_EQ(qt::WidgetDownloadUi::qtFilter("Images|*.TVK|All|*|"), "Images (*.TVK);;All (*)");
}

TEST(CommandLineTest, PortsComeFromDefaultsThenEnvironmentThenCommandLine) {
    const char* argv[] = {"norvex", "--port", "COM1=/dev/ttyACM0", "--port=COM3=/dev/pts/7"};
    const qt::CommandLine cl = qt::parseCommandLine(4, argv);
    ASSERT_TRUE(cl.error.empty()) << cl.error;
    EXPECT_FALSE(cl.help);

    ::setenv("NORVEX_COM1", "/dev/from-env1", 1);
    ::setenv("NORVEX_COM2", "/dev/from-env2", 1);
    link::PortMap ports;
    ports.loadEnvironment();
    std::string error;
    ASSERT_TRUE(qt::applyPortOverrides(cl, ports, error)) << error;
    ::unsetenv("NORVEX_COM1");
    ::unsetenv("NORVEX_COM2");
    EXPECT_EQ(ports.devicePath(0), "/dev/ttyACM0");
    EXPECT_EQ(ports.devicePath(1), "/dev/from-env2");
    EXPECT_EQ(ports.devicePath(2), "/dev/pts/7");
    EXPECT_EQ(ports.devicePath(3), link::PortMap::defaultPath(3));
    EXPECT_NE(qt::usageText(ports).find("COM1  /dev/ttyACM0"), std::string::npos);
}

TEST(CommandLineTest, RejectsWhatItDoesNotKnow) {
    const char* missing[] = {"norvex", "--port"};
    EXPECT_FALSE(qt::parseCommandLine(2, missing).error.empty());
    const char* unknown[] = {"norvex", "--batch-of-nonsense"};
    EXPECT_FALSE(qt::parseCommandLine(2, unknown).error.empty());
    const char* bad[] = {"norvex", "--port", "COM9=/dev/x"};
    link::PortMap ports;
    std::string error;
    EXPECT_FALSE(qt::applyPortOverrides(qt::parseCommandLine(3, bad), ports, error));
    EXPECT_FALSE(error.empty());
    const char* help[] = {"norvex", "-h"};
    EXPECT_TRUE(qt::parseCommandLine(2, help).help);
}

// The program itself: no display means a clear message and status 1, not a crash.
TEST(ProgramTest, WithoutADisplayExplainsAndExitsWithStatusOne) {
    const char* bin = std::getenv("NORVEX_BIN");
#ifdef NORVEX_BIN_DIR
    if (!bin) bin = NORVEX_BIN_DIR;
#endif
    if (!bin) GTEST_SKIP() << "NORVEX_BIN not set";
    const std::string cmd =
        "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " + std::string(bin) + "/norvex 2>&1";
    FILE* out = ::popen(cmd.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char buf[256];
    while (std::fgets(buf, sizeof buf, out))
        text += buf;
    const int status = ::pclose(out);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(text.find("display"), std::string::npos) << text;

    FILE* helpOut = ::popen((std::string(bin) + "/norvex --help").c_str(), "r");
    ASSERT_NE(helpOut, nullptr);
    std::string help;
    while (std::fgets(buf, sizeof buf, helpOut))
        help += buf;
    EXPECT_EQ(WEXITSTATUS(::pclose(helpOut)), 0);
    EXPECT_NE(help.find("--port COMn=PATH"), std::string::npos);
    EXPECT_NE(help.find("NORVEX_COM1"), std::string::npos);
}

// --version, --list-ports and --help answer before anything needs a display.
TEST(ProgramTest, VersionPortListAndHelpNeedNoDisplay) {
    const char* bin = std::getenv("NORVEX_BIN");
#ifdef NORVEX_BIN_DIR
    if (!bin) bin = NORVEX_BIN_DIR;
#endif
    if (!bin) GTEST_SKIP() << "NORVEX_BIN not set";
    auto run = [&](const std::string& args, int& status) {
        const std::string cmd =
            "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM NORVEX_COM2=/dev/null " + std::string(bin) +
            "/norvex " + args + " 2>&1";
        FILE* out = ::popen(cmd.c_str(), "r");
        std::string text;
        char buf[256];
        while (out && std::fgets(buf, sizeof buf, out))
            text += buf;
        status = out ? ::pclose(out) : -1;
        return text;
    };
    int status = -1;
    EXPECT_EQ(run("--version", status), "norvex " NORVEX_VERSION_TEXT "\n");
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const std::string ports = run("--list-ports", status);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ports;
    EXPECT_NE(ports.find("COM2  /dev/null (NORVEX_COM2)"), std::string::npos) << ports;
    EXPECT_NE(run("--help", status).find("--list-ports"), std::string::npos);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

} // namespace
} // namespace norvex::test
