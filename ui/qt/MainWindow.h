// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window in Qt: template 102 with menu 142, the page bar of the shown page and the
// modeless windows. Every input goes to the toolkit-free logic (ui::MainWindowLogic); the logic
// reaches the widgets through WidgetView.

#include "BusMonitorWindow.h"
#include "HelpWindow.h"
#include "ModelessDialog.h"
#include "PageBar.h"
#include "PainterSurface.h"
#include "PortsDialog.h"
#include "TemplateBuilder.h"
#include "WidgetView.h"
#include "control/View.h"
#include "link/ComLink.h"
#include "link/PortMap.h"

#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QComboBox;
class QPushButton;
class QTabBar;
class QTreeWidget;

namespace norvex::history {
class History;
class HistoryWriter;
} // namespace norvex::history

namespace norvex::ui {
class MainWindowLogic;
class NotificationBridge;
} // namespace norvex::ui

namespace norvex::qt {

class HistoryWindow;

struct MainWindowSetup {
    std::string settingsDirectory = "."; // where norvex.ini lives
    link::PortFactory portFactory;       // unset: real serial ports
    std::string portsFile = {};          // the ports dialog's assignments; empty: not kept
    std::string deviceRoot = "/";        // where the ports dialog looks for devices
    history::History* history = nullptr; // where readings are kept; none: not kept
};

class MainWindow final : public QMainWindow {
    Q_OBJECT
public:
    // Answers to the message boxes and file dialogs in place of the operator (automation and
    // tests). Unset, the real dialogs are shown.
    using MessageHook = std::function<MsgResult(const std::string& text, const std::string& caption,
                                                MsgButtons buttons, MsgIcon icon)>;
    // Returns the chosen path, or nothing for Cancel.
    using SaveFileHook =
        std::function<std::optional<std::string>(const std::string& title, const std::string& proposedName)>;

    using Setup = MainWindowSetup;

    explicit MainWindow(link::PortMap& ports, Setup setup = Setup());
    ~MainWindow() override;

    ui::MainWindowLogic& core() { return *core_; }
    // The program is being ended under the window (the display went away: Qt ends the process
    // when its X11 connection breaks): the link stops as EXIT stops it, a bill held in escrow is
    // settled and the port released, without touching the windows. Once; nothing after shutdown.
    void endWithoutDisplay();
    ui::NotificationBridge& bridge() { return *bridge_; }

    void setMessageHook(MessageHook hook) { messageHook_ = std::move(hook); }
    void setSaveFileHook(SaveFileHook hook) { saveFileHook_ = std::move(hook); }

    // --- what the window shows (for the view and for tests) -----------------------------------
    QWidget* clientArea() const { return client_; }
    QWidget* control(int id) const { return main_.find(id); }
    PageBar* pageBar() const { return bar_; }
    // Bars created since the window was built.
    int barsCreated() const { return barsCreated_; }
    ModelessDialog* modeless(Modeless which) const;
    QAction* menuAction(int command) const;
    const QImage& trafficImage() const { return trafficImage_; }
    QTimer& pollTimer() { return pollTimer_; }
    // True once the link has been stopped for good (window closed, or the download ended).
    bool isShutDown() const { return destroyed_; }

    // SIGINT, SIGTERM or SIGHUP came: the window closes as EXIT does (the escrow settled, the port
    // released) and ends the application with 128 + the signal's number. What waits for the
    // operator is answered first (a message box as Cancel, No or OK; a dialog or menu closed), so
    // the ending runs from the window's own event loop; a firmware transfer, which cannot be
    // interrupted safely, ends the application itself when it is over.
    void endBySignal(int signal);
    // The signal that ended (or is ending) the window; 0 for none.
    int endingSignal() const { return endingSignal_; }

    // A menu command or button, as if the operator chose it.
    void command(int id);
    // The help window at a topic ("monitor.html", "index.html#options"); at the contents without.
    void showHelp(const QString& topic = QStringLiteral("index.html"));
    HelpWindow* helpWindow() const { return help_; }
    // The topic F1 opens in the window `widget` is in: the page shown, for the main window.
    QString helpTopicFor(const QWidget* widget) const;
    void showAbout();
    // The ports dialog (Log File > Serial Ports...), opened or brought up.
    void showPorts();
    PortsDialog* portsDialog() const { return portsDialog_; }
    // Shows each COM entry's device in the selector's tooltips, as things are now.
    void showComPortPaths();
    void startDownload();
    // The service history window (menu "History"); none without a history.
    void showHistory();
    HistoryWindow* historyWindow() const;
    // The bus monitor (opened or brought to the front) and "Save Bus Capture…".
    BusMonitorWindow* showBusMonitor();
    BusMonitorWindow* busMonitor() const { return busMonitor_; }
    void saveBusCapture();
    // Bus > "Listen to a Machine…": the dialog, then listening on the two ports chosen (the
    // bus monitor comes up); startListening does the same without the dialog.
    void listenToMachine();
    bool startListening(const std::string& controllerPath, const std::string& peripheralPath);
    void stopListening();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    friend class WidgetView;
    friend class WidgetDownloadUi;

    void buildMenu();
    void buildBusMenu(); // the bus monitor's menu, after the described ones
    // Everything that would transmit disabled (with the reason) while listening, and back after.
    void showListening();
    void buildClientArea();
    void connectInputs();
    void paintClient(QPainter& painter);
    // Stops the link and closes the windows; once.
    void shutdown();
    // The rest of endBySignal, once no other event loop runs inside the window's own.
    void finishEnding();
    // Whatever waits for the operator lets go: the message boxes (answered), a modal dialog (a
    // file dialog, the about box) and an open menu (closed).
    void letGoOfTheOperator();
    ui::MainWindowLogic* live() { return destroyed_ ? nullptr : core_.get(); }

    // View operations that need more than one line.
    static void setControlText(QWidget* control, const QString& text);
    // The control `id` of the bar of `page`; nullptr when another page's bar is shown.
    QWidget* barControl(Page page, int id) const;
    void createBar(Page page);
    void destroyBar(Page page);
    void openModeless(Modeless which);
    void activateModeless(Modeless which);
    void closeModeless(Modeless which);
    MsgResult messageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                         MsgIcon icon);
    bool chooseSaveFile(const std::string& title, const std::string& proposedName,
                        const std::string& filterLabel, std::string& path);

    WidgetView view_;
    QWidget* client_ = nullptr;
    BuiltControls main_;
    QTreeWidget* billList_ = nullptr;
    QTabBar* tabs_ = nullptr;
    QComboBox* comSelector_ = nullptr;
    QPushButton* startButton_ = nullptr;
    std::map<int, QAction*> actions_;

    QImage trafficImage_;
    std::unique_ptr<ImageSurface> trafficSurface_;
    QTimer pollTimer_;
    QPointer<PageBar> bar_;
    int barsCreated_ = 0;
    std::map<Modeless, QPointer<ModelessDialog>> modeless_;
    QPointer<HelpWindow> help_;
    QPointer<PortsDialog> portsDialog_;
    std::string portsFile_;
    std::string deviceRoot_;
    history::History* history_ = nullptr; // what the history window reads
    // Stores the readings on a thread of its own (the window never waits for a history).
    std::unique_ptr<history::HistoryWriter> historyWriter_;
    QPointer<HistoryWindow> historyWindow_;
    QPointer<BusMonitorWindow> busMonitor_;
    QAction* listenAction_ = nullptr;
    QAction* stopListeningAction_ = nullptr;
    bool shownListening_ = false;

    MessageHook messageHook_;
    SaveFileHook saveFileHook_;

    std::unique_ptr<QObject> helpKey_; // F1 in any of the program's windows

    std::unique_ptr<ui::MainWindowLogic> core_;
    std::unique_ptr<ui::NotificationBridge> bridge_;
    bool destroyed_ = false;
    bool downloading_ = false; // a firmware transfer is running: closing waits for its end
    int openMessageBoxes_ = 0; // message boxes waiting for an answer
    // The same boxes, to be answered when a signal ends the window.
    std::vector<QPointer<QDialog>> messageBoxes_;
    int endingSignal_ = 0;
    int endingTries_ = 0;
};

} // namespace norvex::qt
