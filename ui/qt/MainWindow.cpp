// SPDX-License-Identifier: GPL-3.0-or-later
#include "MainWindow.h"

#include "AboutDialog.h"
#include "CaptionFrame.h"
#include "DownloadProgressDialog.h"
#include "EscrowPrompt.h"
#include "HelpWindow.h"
#include "LogFileDialog.h"
#include "OptionsDialog.h"
#include "PageBar.h"
#include "WidgetDownloadUi.h"
#include "download/FirmwareDownload.h"
#include "download/PosixByteChannel.h"
#include "history/HistoryWriter.h"
#include "link/PortListing.h"
#include "ui/core/MainWindowLogic.h"
#include "ui/core/NotificationBridge.h"

#include "HistoryWindow.h"
#include "ListenDialog.h"
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>

#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTabBar>
#include <QThread>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace norvex::qt {

namespace {

constexpr int BILL_ROWS = 16;
// What a title bar spends beside the caption: the window icon, up to three buttons, padding.
constexpr int CAPTION_DECORATION_PX = 110;

// The client area: the logic paints the pages on it, the template's controls sit on top.
class ClientArea final : public QWidget {
public:
    ClientArea(QWidget* parent, std::function<void(QPainter&)> paint)
        : QWidget(parent), paint_(std::move(paint)) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        if (paint_) paint_(painter);
    }

private:
    std::function<void(QPainter&)> paint_;
};

QPoint pageOrigin() {
    return QPoint(areas::PAGE.left, areas::PAGE.top);
}

// While a message box is up, its owner takes no input, as a disabled owner window would; other
// windows (the escrow prompt above all: the validator holds the bill meanwhile) stay usable.
// Qt's window modality would block every window that belongs to the owner as well.
class OwnerInputBlock final : public QObject {
public:
    explicit OwnerInputBlock(QWidget* owner) : owner_(owner) { qApp->installEventFilter(this); }
    ~OwnerInputBlock() override { qApp->removeEventFilter(this); }
    OwnerInputBlock(const OwnerInputBlock&) = delete;
    OwnerInputBlock& operator=(const OwnerInputBlock&) = delete;

protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd: {
            auto* w = qobject_cast<QWidget*>(target);
            return w != nullptr && w->window() == owner_;
        }
        default:
            return false;
        }
    }

private:
    QWidget* owner_;
};

// Calls `before` when a widget is about to show its tooltip: the port selector's tooltip names
// the device behind the entry as it is at that moment (adapters come and go).
class BeforeToolTip final : public QObject {
public:
    BeforeToolTip(QObject* parent, std::function<void()> before)
        : QObject(parent), before_(std::move(before)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::ToolTip) before_();
        return false;
    }

private:
    std::function<void()> before_;
};

// F1 in any window of the program opens the help at that window's topic.
class HelpKey final : public QObject {
public:
    explicit HelpKey(MainWindow& window) : window_(window) { qApp->installEventFilter(this); }
    ~HelpKey() override { qApp->removeEventFilter(this); }
    HelpKey(const HelpKey&) = delete;
    HelpKey& operator=(const HelpKey&) = delete;

protected:
    bool eventFilter(QObject* target, QEvent* event) override {
        if (event->type() != QEvent::KeyPress) return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_F1 || key->modifiers() != Qt::NoModifier) return false;
        auto* w = qobject_cast<QWidget*>(target);
        // A modal dialog (a file dialog) keeps every other window from the keyboard, the help's
        // too: F1 there stays the dialog's own.
        if (!w || QApplication::activeModalWidget()) return false;
        window_.showHelp(window_.helpTopicFor(w));
        return true;
    }

private:
    MainWindow& window_;
};

// The help's place for each page of the main window.
const char* pageHelpTopic(Page page) {
    switch (page) {
    case Page::CommandStatus:
        return "index.html#command-status";
    case Page::Statistics:
        return "index.html#statistics";
    case Page::Sensors:
        return "index.html#sensors";
    case Page::MainOptics:
        return "index.html#optics";
    case Page::VideoTest:
        return "index.html#video";
    case Page::Traffic:
        return "index.html#traffic";
    }
    return "index.html#window";
}

const char* modelessHelpTopic(Modeless which) {
    switch (which) {
    case Modeless::EscrowPrompt:
        return "index.html#escrow";
    case Modeless::LogFile:
        return "index.html#logfile";
    case Modeless::Options:
        return "index.html#options";
    case Modeless::Download:
        return "index.html#download";
    }
    return "index.html";
}

QMessageBox::Icon toQtIcon(MsgIcon icon) {
    switch (icon) {
    case MsgIcon::Information:
        return QMessageBox::Information;
    case MsgIcon::Warning:
        return QMessageBox::Warning;
    case MsgIcon::Error:
        return QMessageBox::Critical;
    case MsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

MainWindow::MainWindow(link::PortMap& ports, Setup setup)
    : QMainWindow(nullptr, mainWindowFlags()), view_(*this) {
    portsFile_ = setup.portsFile;
    deviceRoot_ = setup.deviceRoot;
    initResources();
    setWindowIcon(QIcon(QStringLiteral(":/norvex/images/norvex.png")));
    setWindowTitle(QString::fromUtf8(findTemplate(templates::MAIN)->title));

    buildMenu();
    history_ = setup.history;
    if (history_) {
        // A menu of its own beside the others, which keep their items.
        QMenu* menu = new QMenu(QStringLiteral("Hi&story"), this);
        QAction* open = menu->addAction(QStringLiteral("&Service History..."));
        open->setObjectName(QStringLiteral("serviceHistoryAction"));
        connect(open, &QAction::triggered, this, [this] { showHistory(); });
        const QList<QAction*> menus = menuBar()->actions();
        menuBar()->insertMenu(menus.isEmpty() ? nullptr : menus.back(), menu); // before Help
    }
    buildBusMenu();
    buildClientArea();

    core_ = setup.portFactory ? std::make_unique<ui::MainWindowLogic>(view_, ports, setup.portFactory)
                              : std::make_unique<ui::MainWindowLogic>(view_, ports);
    core_->setSettingsDirectory(setup.settingsDirectory);
    if (history_) {
        historyWriter_ = std::make_unique<history::HistoryWriter>(
            history_->url(),
            [this] {
                // Called on the writer's thread; what it did is told on the window's.
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        if (auto* c = live()) c->onHistoryResults();
                    },
                    Qt::QueuedConnection);
            },
            history_->outboxPath());
        core_->setHistory(historyWriter_.get());
    }
    bridge_ = std::make_unique<ui::NotificationBridge>(
        [this] {
            // Called by the link worker; the code is handled on the window's thread.
            QMetaObject::invokeMethod(
                this, [this] { bridge_->deliver(); }, Qt::QueuedConnection);
        },
        [this](std::uint8_t code) {
            if (auto* c = live()) c->onLinkNotification(code);
        },
        [this](const link::LinkFault& fault) {
            if (auto* c = live()) c->onLinkFailed(fault);
        });

    // The "View Data Xfer" page lives in an image of the page area; each exchange is drawn
    // into it once and every paint shows it.
    trafficImage_ = QImage(areas::PAGE.right - areas::PAGE.left, areas::PAGE.bottom - areas::PAGE.top,
                           QImage::Format_RGB32);
    trafficImage_.fill(Qt::black);
    trafficSurface_ = std::make_unique<ImageSurface>(trafficImage_, pageOrigin());
    core_->setTrafficImage(trafficSurface_.get());

    pollTimer_.setTimerType(Qt::PreciseTimer);
    connectInputs();
    helpKey_ = std::make_unique<HelpKey>(*this);
    core_->onInitDialog();
    showComPortPaths();
}

MainWindow::~MainWindow() {
    shutdown();
    delete bar_.data();
    delete busMonitor_.data(); // it reads the logic's bus log
}

HistoryWindow* MainWindow::historyWindow() const {
    return historyWindow_.data();
}

void MainWindow::showHistory() {
    if (!history_) return;
    if (!historyWindow_) {
        historyWindow_ = new HistoryWindow(*history_, this);
        historyWindow_->setAttribute(Qt::WA_DeleteOnClose);
        // The window reads; storing, and sending what waits, is the writer's.
        connect(historyWindow_, &HistoryWindow::historyChosen, this, [this](const QString& url) {
            if (historyWriter_) historyWriter_->reopen(url.toStdString());
        });
        connect(historyWindow_, &HistoryWindow::keptReadingsWanted, this, [this] {
            if (historyWriter_) historyWriter_->sendKept();
        });
        if (historyWriter_) historyWriter_->sendKept();
    } else {
        historyWindow_->refresh();
    }
    historyWindow_->show();
    historyWindow_->raise();
    historyWindow_->activateWindow();
}

void MainWindow::buildMenu() {
    QMenuBar* bar = menuBar();
    std::vector<QMenu*> stack;
    for (const MenuEntry& e : mainMenu()) {
        const QString text = e.text ? QString::fromUtf8(e.text) : QString();
        switch (e.kind) {
        case MenuKind::Menu:
            stack.push_back(bar->addMenu(text));
            break;
        case MenuKind::SubMenu:
            stack.push_back(stack.back()->addMenu(text));
            break;
        case MenuKind::EndMenu:
            stack.pop_back();
            break;
        case MenuKind::Separator:
            stack.back()->addSeparator();
            break;
        case MenuKind::Item:
        case MenuKind::DisabledItem: {
            QAction* a = stack.back()->addAction(text);
            a->setEnabled(e.kind == MenuKind::Item);
            a->setData(e.command);
            const int id = e.command;
            connect(a, &QAction::triggered, this, [this, id] { command(id); });
            actions_[id] = a;
            break;
        }
        }
    }
}

void MainWindow::buildClientArea() {
    const Template& t = *findTemplate(templates::MAIN);
    client_ = new ClientArea(this, [this](QPainter& p) { paintClient(p); });
    client_->setObjectName(QStringLiteral("clientArea"));
    client_->setAutoFillBackground(true);
    client_->setFixedSize(templateSize(t));
    setCentralWidget(client_);
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    main_ = buildTemplate(t, client_);
    billList_ = main_.get<QTreeWidget>(ids::BILL_LIST);
    tabs_ = main_.get<QTabBar>(ids::TABS);
    comSelector_ = main_.get<QComboBox>(ids::COM_SELECTOR);
    startButton_ = main_.get<QPushButton>(ids::START);

    // Sixteen rows on a grey text background, each with its box image.
    QPalette pal = billList_->palette();
    pal.setColor(QPalette::Base, QColor(204, 204, 204));
    pal.setColor(QPalette::AlternateBase, QColor(204, 204, 204));
    billList_->setPalette(pal);
    for (int row = 0; row < BILL_ROWS; ++row) {
        auto* item = new QTreeWidgetItem(billList_);
        item->setIcon(0, QIcon(boxImage(false)));
    }
    billList_->setContextMenuPolicy(Qt::CustomContextMenu);
}

void MainWindow::connectInputs() {
    connect(&pollTimer_, &QTimer::timeout, this, [this] {
        // A completion the worker left for the tick is taken before the next frame goes out.
        bridge_->deliver();
        if (auto* c = live()) c->onTimer();
        showListening(); // listening may have stopped on a pulled adapter
    });
    connect(startButton_, &QPushButton::clicked, this, [this] { command(ids::START); });
    connect(main_.get<QPushButton>(ids::CANCEL), &QPushButton::clicked, this, [this] { close(); });
    connect(tabs_, &QTabBar::currentChanged, this, [this](int index) {
        if (auto* c = live()) c->onTabChange(index);
    });
    connect(comSelector_, &QComboBox::currentIndexChanged, this, [this](int index) {
        comSelector_->setToolTip(comSelector_->itemData(index, Qt::ToolTipRole).toString());
        if (auto* c = live()) c->onComSelection(index);
    });
    comSelector_->installEventFilter(new BeforeToolTip(comSelector_, [this] {
        if (live()) showComPortPaths();
    }));
    connect(billList_, &QTreeWidget::clicked, this, [this] {
        if (auto* c = live()) c->onBillListClick();
    });
    connect(billList_, &QTreeWidget::customContextMenuRequested, this, [this] {
        if (auto* c = live()) c->onBillListRightClick();
    });
}

void MainWindow::showComPortPaths() {
    link::PortMap& ports = core_->comLink().ports();
    const link::PortDiscovery discovery(deviceRoot_);
    const std::vector<link::SerialDevice> present = discovery.scan();
    for (int i = 0; i < comSelector_->count(); ++i) {
        const std::string path = ports.devicePath(i);
        comSelector_->setItemData(i, QString::fromStdString(path), Qt::UserRole);
        // "COM 1 = /dev/serial/by-id/... (assigned)", then the device behind it.
        std::string tip = comSelector_->itemText(i).toStdString() + " = " + path + " (" +
                          link::originText(ports, i) + ")\n";
        const std::string target = discovery.resolve(path);
        const auto found = std::find_if(present.begin(), present.end(),
                                        [&](const link::SerialDevice& d) { return d.path == target; });
        if (found != present.end())
            tip += link::PortDiscovery::summary(*found) +
                   (found->accessible ? "" : "\nthis user may not open it");
        else if (!target.empty())
            tip += target;
        else
            tip += "not present";
        comSelector_->setItemData(i, QString::fromStdString(tip), Qt::ToolTipRole);
    }
    comSelector_->setToolTip(
        comSelector_->itemData(comSelector_->currentIndex(), Qt::ToolTipRole).toString());
}

void MainWindow::paintClient(QPainter& painter) {
    ui::MainWindowLogic* c = live();
    if (!c) return;
    PainterSurface surface(painter);
    c->onPaint(surface);
    if (c->currentPage() == Page::Traffic) painter.drawImage(pageOrigin(), trafficImage_);
}

void MainWindow::command(int id) {
    ui::MainWindowLogic* c = live();
    if (!c) return;
    switch (id) {
    case ids::START:
        bridge_->reset();
        c->onStart(*bridge_);
        return;
    case cmd::CREATE_LOG_FILE:
        c->createLogFileCommand();
        return;
    case cmd::OPTIONS:
        c->optionsCommand();
        return;
    case cmd::SERIAL_PORTS:
        showPorts();
        return;
    case cmd::HELP_TOPICS:
        showHelp();
        return;
    case cmd::ABOUT:
        showAbout();
        return;
    case cmd::START_DOWNLOAD:
        startDownload();
        return;
    default:
        c->onCommand(id);
        return;
    }
}

void MainWindow::showHelp(const QString& topic) {
    if (!help_) help_ = new HelpWindow(this);
    help_->showTopic(topic);
    help_->show();
    help_->raise();
    help_->activateWindow();
}

QString MainWindow::helpTopicFor(const QWidget* widget) const {
    // The window the key was pressed in, else the one that owns it (a message box's owner).
    for (const QWidget* w = widget ? widget->window() : nullptr; w;
         w = w->parentWidget() ? w->parentWidget()->window() : nullptr) {
        if (w == this) return QString::fromLatin1(pageHelpTopic(core_->currentPage()));
        if (const QString topic = ownHelpTopic(w); !topic.isEmpty()) return topic;
    }
    return QStringLiteral("index.html");
}

void MainWindow::showPorts() {
    if (!portsDialog_) {
        portsDialog_ = new PortsDialog(this, core_->comLink().ports(), portsFile_, deviceRoot_,
                                       [this] { showComPortPaths(); });
        portsDialog_->setAttribute(Qt::WA_DeleteOnClose);
    }
    portsDialog_->show();
    portsDialog_->raise();
    portsDialog_->activateWindow();
}

void MainWindow::showAbout() {
    AboutDialog about(this);
    about.exec();
}

void MainWindow::startDownload() {
    ui::MainWindowLogic* c = live();
    if (!c) return;
    // The download takes the port over and ends the application on every path.
    class StopLink final : public download::LinkControl {
    public:
        StopLink(ui::MainWindowLogic& core, ui::NotificationBridge& bridge) : core_(core), bridge_(bridge) {}
        void stopLink() override {
            core_.stopLinkForDownload([this] { bridge_.deliver(); });
        }

    private:
        ui::MainWindowLogic& core_;
        ui::NotificationBridge& bridge_;
    } link(*c, *bridge_);
    download::PosixByteChannel channel(c->portDevicePath());
    WidgetDownloadUi ui(*this);
    download::FirmwareDownload procedure(channel, ui, link);
    downloading_ = true;
    procedure.run();
    downloading_ = false;
    shutdown();
    QCoreApplication::exit(0);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // A firmware transfer cannot be interrupted safely; it ends the application itself. While a
    // message box waits for its answer the window cannot be closed, as a disabled window.
    if (downloading_ || openMessageBoxes_ > 0) {
        event->ignore();
        return;
    }
    shutdown();
    // What the service history could not take yet, said as the program ends.
    if (const std::string& note = core_->historyExitNote(); !note.empty())
        messageBox(note, "History", MsgButtons::Ok, MsgIcon::Information);
    event->accept();
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    // As in a dialog: Enter presses the button that has the focus, else the default button
    // START; Escape closes the window.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        if (focused && focused->isEnabled() && focused->isVisible())
            focused->click();
        else if (startButton_->isEnabled())
            startButton_->click();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void MainWindow::shutdown() {
    if (destroyed_) return;
    pollTimer_.stop();
    // An answer that completes while the port closes is handled here and now: the queued
    // hand-over would come after the close.
    core_->onDestroy([this] { bridge_->deliver(); });
    destroyed_ = true;
    for (auto& [which, dialog] : std::map(modeless_))
        if (dialog) dialog->dismiss();
    modeless_.clear();
    if (help_) help_->close();
    if (portsDialog_) portsDialog_->close();
    if (busMonitor_) busMonitor_->close();
}

void MainWindow::endWithoutDisplay() {
    if (destroyed_) return;
    pollTimer_.stop();
    core_->onDestroy([this] { bridge_->deliver(); });
    destroyed_ = true;
}

void MainWindow::endBySignal(int signal) {
    if (endingSignal_ != 0) return;
    endingSignal_ = signal;
    letGoOfTheOperator();
    if (downloading_) {
        std::fprintf(stderr,
                     "norvex: SIG%s: the program ends when the firmware download has stopped (a "
                     "transfer cannot be interrupted safely)\n",
                     sigabbrev_np(signal));
        return;
    }
    finishEnding();
}

void MainWindow::letGoOfTheOperator() {
    for (const QPointer<QDialog>& box : std::vector(messageBoxes_))
        if (box) box->done(0);
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
}

void MainWindow::finishEnding() {
    // Run from the window's own loop, not inside a box's or a dialog's that is still unwinding
    // (the logic may be in the middle of the call that opened it). A loop that does not end
    // within two seconds is not waited for.
    constexpr int RETRY_MS = 20;
    if (QThread::currentThread()->loopLevel() > 1 && ++endingTries_ < 2000 / RETRY_MS) {
        letGoOfTheOperator(); // what the unwinding logic opened meanwhile
        QTimer::singleShot(RETRY_MS, this, [this] { finishEnding(); });
        return;
    }
    shutdown();
    close();
    QCoreApplication::exit(128 + endingSignal_);
}

// --- bus monitor -------------------------------------------------------------------------------

void MainWindow::buildBusMenu() {
    // A menu of its own before Help; the described menus keep their items.
    QMenu* menu = new QMenu(QStringLiteral("&Bus"), menuBar());
    const QList<QAction*> menus = menuBar()->actions();
    menuBar()->insertMenu(menus.isEmpty() ? nullptr : menus.back(), menu);
    QAction* monitor = menu->addAction(QStringLiteral("Bus &Monitor…"));
    monitor->setObjectName(QStringLiteral("busMonitorAction"));
    connect(monitor, &QAction::triggered, this, [this] { showBusMonitor(); });
    QAction* capture = menu->addAction(QStringLiteral("Save Bus &Capture…"));
    capture->setObjectName(QStringLiteral("saveBusCaptureAction"));
    connect(capture, &QAction::triggered, this, [this] { saveBusCapture(); });
    menu->addSeparator();
    listenAction_ = menu->addAction(QStringLiteral("&Listen to a Machine…"));
    listenAction_->setObjectName(QStringLiteral("listenAction"));
    connect(listenAction_, &QAction::triggered, this, [this] { listenToMachine(); });
    stopListeningAction_ = menu->addAction(QStringLiteral("S&top Listening"));
    stopListeningAction_->setObjectName(QStringLiteral("stopListeningAction"));
    stopListeningAction_->setEnabled(false);
    connect(stopListeningAction_, &QAction::triggered, this, [this] { stopListening(); });
}

void MainWindow::listenToMachine() {
    if (!live()) return;
    ListenDialog dialog(this, deviceRoot_);
    if (dialog.exec() != QDialog::Accepted) return;
    startListening(dialog.controllerPath(), dialog.peripheralPath());
}

bool MainWindow::startListening(const std::string& controllerPath, const std::string& peripheralPath) {
    ui::MainWindowLogic* c = live();
    if (!c || !c->startListening(controllerPath, peripheralPath)) {
        showListening();
        return false;
    }
    showListening();
    showBusMonitor();
    return true;
}

void MainWindow::stopListening() {
    if (auto* c = live()) c->stopListening();
    showListening();
}

void MainWindow::showListening() {
    ui::MainWindowLogic* c = live();
    const bool listening = c && c->listening();
    const bool linkRuns = c && c->controller().started();
    listenAction_->setEnabled(!listening && !linkRuns);
    listenAction_->setToolTip(linkRuns ? QStringLiteral("The link to the validator is running") : QString());
    stopListeningAction_->setEnabled(listening);
    if (listening == shownListening_) return;
    shownListening_ = listening;
    const QString why = QString::fromUtf8(ui::MainWindowLogic::listeningRefusal());
    // Whatever would make Norvex transmit: the requests, the escrow answers, the log sequence,
    // the download (START and the port selector are the logic's).
    static const int TRANSMITTING[] = {cmd::RESET,
                                       cmd::SETUP_REQUEST,
                                       cmd::SECURITY_SET,
                                       cmd::STATUS_REQUEST,
                                       cmd::CASS_INFO_REQUEST,
                                       cmd::CREATE_LOG_FILE,
                                       cmd::ENABLE_ALL_BILLS,
                                       cmd::DISABLE_ALL_BILLS,
                                       cmd::ENABLE_ALL_ESCROW,
                                       cmd::DISABLE_ALL_ESCROW,
                                       cmd::ACCEPT_ESCROW,
                                       cmd::REJECT_ESCROW,
                                       cmd::DEVICE_ID_REQUEST,
                                       cmd::STATISTICS_REQUEST,
                                       cmd::SENSORS_REQUEST,
                                       cmd::OPTICS_REQUEST,
                                       cmd::VIDEO_REQUEST,
                                       cmd::START_DOWNLOAD};
    for (int id : TRANSMITTING) {
        QAction* a = menuAction(id);
        if (!a) continue;
        // An item the menu template disables stays disabled.
        if (listening) {
            a->setProperty("enabledBeforeListening", a->isEnabled());
            a->setEnabled(false);
            a->setToolTip(why);
            a->setStatusTip(why);
        } else {
            a->setEnabled(a->property("enabledBeforeListening").toBool());
            a->setToolTip(QString());
            a->setStatusTip(QString());
        }
        if (QMenu* menu = qobject_cast<QMenu*>(a->parent())) menu->setToolTipsVisible(true);
    }
    startButton_->setToolTip(listening ? why : QString());
}

BusMonitorWindow* MainWindow::showBusMonitor() {
    if (!busMonitor_) busMonitor_ = new BusMonitorWindow(*core_, this);
    busMonitor_->show();
    busMonitor_->raise();
    busMonitor_->activateWindow();
    return busMonitor_;
}

void MainWindow::saveBusCapture() {
    BusMonitorWindow::SavePathHook hook;
    if (saveFileHook_) hook = [this](const std::string& title) { return saveFileHook_(title, "bus.pcap"); };
    const auto path =
        BusMonitorWindow::askSavePath(this, QStringLiteral("Save Bus Capture"),
                                      QStringLiteral("Captures (*.pcap)"), QStringLiteral("pcap"), hook);
    if (!path) return;
    core_->busLog().takeNew();
    std::string error;
    if (!core_->busLog().saveCapture(*path, error))
        messageBox(error, "Info", MsgButtons::Ok, MsgIcon::Warning);
}

// --- view operations ---------------------------------------------------------------------------

QWidget* MainWindow::barControl(Page page, int id) const {
    return bar_ && bar_->page() == page ? bar_->controls().find(id) : nullptr;
}

void MainWindow::setControlText(QWidget* w, const QString& text) {
    if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(text);
    else if (auto* frame = qobject_cast<CaptionFrame*>(w))
        frame->setTitle(text);
}

void MainWindow::createBar(Page page) {
    if (bar_ && bar_->page() == page) {
        bar_->raise();
        return;
    }
    if (bar_) destroyBar(bar_->page());
    bar_ = new PageBar(page, client_, [this](int id) { command(id); });
    ++barsCreated_;
    if (page == Page::CommandStatus) {
        // RE-CONNECT needs a link that has been started once.
        const bool allowed = live() && live()->controller().reconnectAllowed();
        bar_->controls().find(ids::BAR_BUTTON)->setEnabled(allowed);
    }
    bar_->show();
}

void MainWindow::destroyBar(Page page) {
    if (!bar_ || bar_->page() != page) return;
    PageBar* old = bar_;
    bar_ = nullptr;
    old->hide();
    old->deleteLater();
}

ModelessDialog* MainWindow::modeless(Modeless which) const {
    auto it = modeless_.find(which);
    if (it == modeless_.end() || !it->second || it->second->finished()) return nullptr;
    return it->second;
}

QAction* MainWindow::menuAction(int id) const {
    auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

void MainWindow::openModeless(Modeless which) {
    ui::MainWindowLogic* c = live();
    if (!c) return;
    if (modeless(which)) {
        activateModeless(which);
        return;
    }
    ModelessDialog* dialog = nullptr;
    switch (which) {
    case Modeless::EscrowPrompt:
        dialog = new EscrowPrompt(this, [this](bool accept) {
            if (auto* core = live()) core->onEscrowAnswer(accept);
        });
        break;
    case Modeless::LogFile:
        dialog = new LogFileDialog(this, {
                                             [this](const LogFileDialog::Choice& ch) {
                                                 if (auto* core = live())
                                                     core->onLogDialogOk(ch.statistics, ch.sensors, ch.optics,
                                                                         ch.video, ch.serialNumber);
                                             },
                                             [this] {
                                                 if (auto* core = live()) core->onLogDialogCancel();
                                             },
                                             [this] {
                                                 if (auto* core = live()) core->onLogVideoBoxClicked();
                                             },
                                         });
        break;
    case Modeless::Options: {
        const ui::OptionsState& o = c->options();
        dialog = new OptionsDialog(this, o.escrowOption, o.dataSavingOption, o.dataFilePath,
                                   {
                                       [this](ui::DataSaving choice) {
                                           if (auto* core = live()) core->onOptionsDataSaving(choice);
                                       },
                                       [this]() -> std::string {
                                           auto* core = live();
                                           if (!core) return {};
                                           core->onOptionsBrowse();
                                           return core->options().dataFilePath;
                                       },
                                       [this](control::EscrowOption escrowChoice) {
                                           if (auto* core = live()) core->onOptionsOk(escrowChoice);
                                       },
                                       [this] {
                                           if (auto* core = live()) core->onOptionsCancel();
                                       },
                                   });
        break;
    }
    case Modeless::Download:
        dialog = new DownloadProgressDialog(this);
        break;
    }
    if (!dialog) return;
    setHelpTopic(dialog, QString::fromLatin1(modelessHelpTopic(which)));
    dialog->setAttribute(Qt::WA_DeleteOnClose, false);
    modeless_[which] = dialog;
    dialog->setOnFinished([this, which, dialog] {
        auto it = modeless_.find(which);
        if (it != modeless_.end() && it->second == dialog) modeless_.erase(it);
    });
    if (which == Modeless::EscrowPrompt)
        dialog->move(client_->mapToGlobal(QPoint(duToPxX(ESCROW_PROMPT_X), duToPxY(ESCROW_PROMPT_Y))));
    activateModeless(which);
}

void MainWindow::activateModeless(Modeless which) {
    if (ModelessDialog* d = modeless(which)) {
        d->show();
        d->raise();
        // The escrow prompt comes when the validator holds a bill, not when the operator asks:
        // it comes to the front without taking the keyboard from the window being typed in.
        if (which != Modeless::EscrowPrompt) d->activateWindow();
    }
}

void MainWindow::closeModeless(Modeless which) {
    auto it = modeless_.find(which);
    if (it == modeless_.end()) return;
    QPointer<ModelessDialog> d = it->second;
    modeless_.erase(it);
    if (d) d->dismiss();
}

MsgResult MainWindow::messageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                                 MsgIcon icon) {
    if (messageHook_) return messageHook_(text, caption, buttons, icon);
    // Once a signal ends the window nobody answers: the text goes to standard error and the
    // answer is the one that changes nothing.
    const MsgResult unanswered = buttons == MsgButtons::OkCancel ? MsgResult::Cancel
                                 : buttons == MsgButtons::YesNo  ? MsgResult::No
                                                                 : MsgResult::Ok;
    if (endingSignal_ != 0) {
        std::fprintf(stderr, "norvex: %s: %s\n", caption.c_str(), text.c_str());
        return unanswered;
    }
    QMessageBox::StandardButtons qtButtons = QMessageBox::Ok;
    if (buttons == MsgButtons::OkCancel) qtButtons = QMessageBox::Ok | QMessageBox::Cancel;
    if (buttons == MsgButtons::YesNo) qtButtons = QMessageBox::Yes | QMessageBox::No;
    QMessageBox box(toQtIcon(icon), QString::fromStdString(caption), QString::fromStdString(text), qtButtons,
                    this);
    // Shown without Qt's modality, in a loop of its own; only the main window waits for it.
    box.setWindowModality(Qt::NonModal);
    box.setWindowFlags(dialogWindowFlags()); // after the modality, which sets flags of its own
    // A short message makes a narrow box, whose caption a window manager that keeps its own
    // buttons (as openbox does) shortens to nothing: leave room for the caption beside them.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        QFont bold = box.font();
        bold.setBold(true);
        const int room = QFontMetrics(bold).horizontalAdvance(box.windowTitle()) + CAPTION_DECORATION_PX;
        grid->addItem(new QSpacerItem(room, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(),
                      0, 1, grid->columnCount());
    }
    const OwnerInputBlock block(this);
    ++openMessageBoxes_;
    messageBoxes_.emplace_back(&box);
    QEventLoop loop;
    connect(&box, &QDialog::finished, &loop, &QEventLoop::quit);
    box.show();
    box.raise();
    box.activateWindow();
    loop.exec();
    --openMessageBoxes_;
    std::erase(messageBoxes_, QPointer<QDialog>(&box));
    if (endingSignal_ != 0) return unanswered;
    switch (box.result()) {
    case QMessageBox::Cancel:
        return MsgResult::Cancel;
    case QMessageBox::Yes:
        return MsgResult::Yes;
    case QMessageBox::No:
        return MsgResult::No;
    default:
        break;
    }
    return MsgResult::Ok;
}

bool MainWindow::chooseSaveFile(const std::string& title, const std::string& proposedName,
                                const std::string& filterLabel, std::string& path) {
    if (saveFileHook_) {
        std::optional<std::string> chosen = saveFileHook_(title, proposedName);
        if (!chosen) return false;
        path = *chosen;
        return true;
    }
    QFileDialog dialog(this, QString::fromStdString(title));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QString::fromStdString(filterLabel));
    dialog.setDefaultSuffix(QStringLiteral("TXT"));
    dialog.selectFile(QString::fromStdString(proposedName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
    path = dialog.selectedFiles().front().toStdString();
    return true;
}

} // namespace norvex::qt
