// SPDX-License-Identifier: GPL-3.0-or-later
// The help: F1 in each window opens it at that window's topic; every link leads to a page and a
// place that exist; every menu item and window is in it.

#include "GuiTestApp.h"

#include "../history/HistoryFixture.h"
#include "control/ControlIds.h"
#include "ui/core/MainWindowLogic.h"
#include "ui/qt/HelpWindow.h"
#include "ui/qt/HistoryWindow.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/TemplateBuilder.h"

#include <QFile>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QTabBar>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>

#include <gtest/gtest.h>

#include <functional>
#include <map>

namespace norvex::test {
namespace {

const char* const PAGES[] = {"index.html", "ports.html", "monitor.html", "history.html"};

QString page(const QString& name) {
    qt::initResources();
    QFile file(QStringLiteral(":/norvex/help/") + name);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll());
}

bool hasPlace(const QString& topic) {
    const QString name = topic.section(QLatin1Char('#'), 0, 0), anchor = topic.section(QLatin1Char('#'), 1);
    const QString text = page(name);
    return !text.isEmpty() && (anchor.isEmpty() || text.contains(QStringLiteral("name=\"%1\"").arg(anchor)));
}

class Help : public ::testing::Test {
protected:
    void SetUp() override {
        guiApp();
        qt::MainWindowSetup setup;
        setup.settingsDirectory = settings.path().toStdString();
        setup.history = &history;
        main = std::make_unique<qt::MainWindow>(ports, setup);
        main->show();
        settle();
    }
    void TearDown() override {
        main.reset();
        settle();
    }

    history::testing::ScratchFolder dir;
    history::History history{"sqlite:" + dir.path() + "/h.sqlite", dir.path() + "/outbox.sqlite"};
    link::PortMap ports;
    QTemporaryDir settings;
    std::unique_ptr<qt::MainWindow> main;
};

TEST_F(Help, F1OpensItAtTheTopicOfTheWindowItIsPressedIn) {
    const struct {
        const char* window;
        std::function<QWidget*()> open;
        const char* topic;
    } cases[] = {
        {"main window, Statistics page",
         [&]() -> QWidget* {
             qobject_cast<QTabBar*>(main->control(ids::TABS))->setCurrentIndex(1);
             return main.get();
         },
         "index.html#statistics"},
        {"main window, View Data Xfer page",
         [&]() -> QWidget* {
             qobject_cast<QTabBar*>(main->control(ids::TABS))->setCurrentIndex(5);
             return main.get();
         },
         "index.html#traffic"},
        {"bus monitor", [&]() -> QWidget* { return main->showBusMonitor(); }, "monitor.html"},
        {"service history",
         [&]() -> QWidget* {
             main->showHistory();
             return main->historyWindow();
         },
         "history.html"},
        {"serial ports",
         [&]() -> QWidget* {
             main->showPorts();
             return main->portsDialog();
         },
         "ports.html"},
        {"options",
         [&]() -> QWidget* {
             main->command(cmd::OPTIONS);
             return main->modeless(Modeless::Options);
         },
         "index.html#options"},
    };
    for (const auto& c : cases) {
        QWidget* w = c.open();
        ASSERT_NE(w, nullptr) << c.window;
        settle();
        QApplication::setActiveWindow(w);
        QWidget* target = w->focusWidget() ? w->focusWidget() : w;
        QTest::keyClick(target, Qt::Key_F1);
        ASSERT_NE(main->helpWindow(), nullptr) << c.window;
        EXPECT_TRUE(main->helpWindow()->isVisible());
        EXPECT_EQ(main->helpWindow()->browser()->source().toString().toStdString(),
                  std::string("qrc:/norvex/help/") + c.topic)
            << c.window;
        EXPECT_TRUE(hasPlace(QString::fromUtf8(c.topic))) << c.topic << " is not in the help";
    }
}

TEST_F(Help, EveryLinkLeadsToAPageAndAPlaceThatExist) {
    const QRegularExpression link(QStringLiteral("href=\"([^\"]+)\""));
    std::map<QString, bool> linkedTo;
    for (const char* name : PAGES) {
        const QString text = page(QString::fromUtf8(name));
        ASSERT_FALSE(text.isEmpty()) << name;
        for (auto m = link.globalMatch(text); m.hasNext();) {
            QString target = m.next().captured(1);
            if (target.startsWith(QLatin1Char('#'))) target.prepend(QString::fromUtf8(name));
            EXPECT_TRUE(hasPlace(target)) << name << " links to " << target.toStdString();
            linkedTo[target.section(QLatin1Char('#'), 0, 0)] = true;
        }
    }
    for (const char* name : PAGES)
        EXPECT_TRUE(linkedTo[QString::fromUtf8(name)]) << name << ": no page leads to it";
}

// Each picture a page shows is in the resources where the page's relative path leads: a missing
// resource entry or a wrong path shows as a broken image only to whoever reads that page.
TEST_F(Help, EveryPictureItShowsIsInTheResources) {
    const QRegularExpression picture(QStringLiteral("<img [^>]*src=\"([^\"]+)\""));
    int pictures = 0;
    for (const char* name : PAGES) {
        const QUrl base(QStringLiteral("qrc:/norvex/help/") + QString::fromUtf8(name));
        for (auto m = picture.globalMatch(page(QString::fromUtf8(name))); m.hasNext(); ++pictures) {
            const QUrl target = base.resolved(QUrl(m.next().captured(1)));
            EXPECT_FALSE(QImage(QLatin1Char(':') + target.path()).isNull())
                << name << " shows " << target.toString().toStdString() << ", which is not there";
        }
    }
    EXPECT_GE(pictures, 4); // the screenshots of the index page at least
}

TEST_F(Help, EveryMenuItemAndWindowIsInIt) {
    QString all;
    for (const char* name : PAGES)
        all += page(QString::fromUtf8(name));
    all.replace(QStringLiteral("&gt;"), QStringLiteral(">"));
    std::vector<QString> wanted;
    std::function<void(QMenu*)> walk = [&](QMenu* menu) {
        for (QAction* a : menu->actions()) {
            if (a->isSeparator()) continue;
            QString text = shownCaption(a->text());
            text.remove(QStringLiteral("...")).remove(QChar(0x2026));
            wanted.push_back(text);
            if (a->menu()) walk(a->menu());
        }
    };
    for (QAction* a : main->menuBar()->actions()) {
        wanted.push_back(shownCaption(a->text()));
        walk(a->menu());
    }
    for (const char* window : {"Bus Monitor", "Service History", "Serial Ports", "Diagnostics Log File",
                               "Wireshark", "Assign", "postgresql://", "F1"})
        wanted.push_back(QString::fromUtf8(window));
    for (const QString& text : wanted)
        EXPECT_TRUE(all.contains(text.trimmed(), Qt::CaseInsensitive))
            << text.toStdString() << " is not in the help";
}

} // namespace
} // namespace norvex::test
