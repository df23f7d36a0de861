// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window's logic, free of any toolkit: it owns the run-time state (validator state,
// scheduler, decoded diagnostics, traffic view, settings and files) and routes every input to
// the part that handles it. The Qt binding (ui/qt) forwards inputs here and implements View.

#include "BusLog.h"
#include "DataRecorder.h"
#include "MachineListener.h"
#include "ReadingCollector.h"
#include "Settings.h"
#include "TrafficView.h"
#include "control/Controller.h"
#include "control/TypedFrame.h"
#include "control/View.h"
#include "diagnostics/Diagnostics.h"
#include "link/ComLink.h"
#include "link/LinkData.h"
#include "link/PortMap.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace norvex::history {
class HistoryWriter;
struct WriteResult;
} // namespace norvex::history

namespace norvex::ui {

inline constexpr const char* WINDOW_TITLE = "Tavik MDB test program [ rev 6 ]";
inline constexpr const char* TEMPLATE_TITLE = "Tavik (mdb) Diagnostics ";

class MainWindowLogic {
public:
    MainWindowLogic(View& view, link::PortMap& ports, link::PortFactory factory = link::termiosPortFactory());
    ~MainWindowLogic();
    MainWindowLogic(const MainWindowLogic&) = delete;
    MainWindowLogic& operator=(const MainWindowLogic&) = delete;

    // Where "norvex.ini" lives (the current directory unless changed before onInitDialog).
    void setSettingsDirectory(const std::string& dir) { settingsDir_ = dir; }
    // The clock used for the report's date and time (tests fix it).
    void setClock(std::function<std::tm()> clock) { clock_ = std::move(clock); }

    // --- start-up and shut-down ---------------------------------------------------------------
    void onInitDialog(); // settings, bill list, digits, state, histories, resets, first page with its bar
    // Timer stopped, the escrow settled, port closed, data file closed. `handlePending` delivers a
    // completion the link worker is waiting to hand over (the front end's notification bridge),
    // so that an answer arriving while the port closes is still taken; see Controller::shutdown.
    void onDestroy(const std::function<void()>& handlePending = {});

    // --- inputs -------------------------------------------------------------------------------
    // Title and page dispatch. With a traffic image set, the traffic page only brings the image up
    // to date and the binding shows the image.
    void onPaint(PaintSurface& surface);
    void onStart(link::LinkNotifier& notifier); // START (1016)
    void onTimer();                             // poll timer tick
    void onLinkNotification(std::uint8_t code); // on the window thread, while the worker waits
    void onLinkFailed(const link::LinkFault& fault);
    void onTabChange(int index); // the tab at `index` chosen; an index outside the tabs changes no page
    void selectPage(Page page);
    void switchPage(Page page);
    void onComSelection(int index);
    void onBillListClick();
    void onBillListRightClick();
    // Menu commands and bar buttons (ids above). Returns false for an id it does not handle
    // (Options, Help, About and Download are the binding's, which then calls the operations below).
    bool onCommand(int id);
    void onEscrowAnswer(bool accept); // ACCEPT (true), REJECT / Escape / close box (false)

    // The note beside the port selector: how the port makes the mode bit and how answers are
    // framed on it.
    static std::string lineNote(bool markParity, link::Framing framing,
                                link::WorkerPriority priority = link::WorkerPriority::Unknown);

    // --- diagnostics log file -----------------------------------------------------------------
    void createLogFileCommand(); // "Create Log File"
    void onLogDialogOk(bool statistics, bool sensors, bool optics, bool video, const std::string& serial);
    void onLogDialogCancel();
    void onLogVideoBoxClicked(); // switches to the Video Test page

    // --- Options dialog ----------------------------------------------------------------------
    void optionsCommand(); // open or activate
    OptionsState& options() { return options_; }
    void onOptionsDataSaving(DataSaving choice); // 1045 Off, 1046 ToFile
    void onOptionsBrowse();                      // returns after the file dialog; path label = dataFilePath
    void onOptionsOk(control::EscrowOption escrowChoice);
    void onOptionsCancel();
    bool openDataFile();
    void closeDataFile();
    bool dataFileOpen() const { return recorder_.isOpen(); }

    // --- traffic page ---------------------------------------------------------------------------
    // The binding keeps the page in an off-screen image: each exchange is drawn into it once.
    void setTrafficImage(PaintSurface* image) { trafficImage_ = image; }
    void setTrafficStopped(bool stopped);
    TrafficView& trafficView() { return traffic_; }

    // --- firmware download ----------------------------------------------------------------------
    // Stops polling, settles the escrow and closes the link for the loader dialogue (which then
    // owns the port); `handlePending` as for onDestroy.
    void stopLinkForDownload(const std::function<void()>& handlePending = {});
    std::string portDevicePath() const;

    // --- bus monitor ----------------------------------------------------------------------------
    // Every exchange on the bus, taken from the link at each tick and notification.
    BusLog& busLog() { return busLog_; }
    // A frame typed by the technician: checked now, sent through the transmit slot at the first
    // tick that finds the link idle. "" when accepted; otherwise why it is refused.
    std::string sendTypedFrame(const std::string& text);
    bool typedFramePending() const { return typedPending_; }
    // Why a frame typed now would wait or be refused for the link's state; "" when it may go.
    std::string typedRefusal() const;

    // --- listening to a machine ----------------------------------------------------------------
    // Listens to a running vending machine through two receive-only ports, the controller's
    // transmit line first: the bus monitor shows every exchange, the validator pages follow what
    // the machine's controller reads, and nothing that would transmit works (each says why).
    // Refused while the link runs; "No Connection" and why when a port does not open. Returns
    // true when listening.
    bool startListening(const std::string& controllerPath, const std::string& peripheralPath);
    void stopListening();
    bool listening() const { return listener_ != nullptr; }
    const MachineListener* machineListener() const { return listener_.get(); }
    // The tap stopped on a fault since the last start (an adapter pulled); the operator was told.
    bool listeningFailed() const { return listenFailed_; }
    // Called for every exchange heard, once the window has taken it (the batch mode prints it).
    void setHeardObserver(MachineListener::Heard observer) { heardObserver_ = std::move(observer); }
    // Why something that would transmit does nothing while listening.
    static const char* listeningRefusal();

    // --- state for the binding and tests --------------------------------------------------------
    control::Controller& controller() { return controller_; }
    link::LinkData& linkData() { return data_; }
    link::ComLink& comLink() { return comLink_; }
    Page currentPage() const { return controller_.currentPage(); }
    int portNumber() const { return comLink_.portNumber(); }
    bool billsFirstHalf() const { return billsFirstHalf_; }
    bool eventsFirstHalf() const { return eventsFirstHalf_; }
    diagnostics::StatisticsData& statistics() { return stats_; }
    diagnostics::SensorsData& sensors() { return sensors_; }
    diagnostics::OpticsData& optics() { return optics_; }
    diagnostics::VideoTestData& videoTest() { return video_; }
    const std::string& logFilePath() const { return logFilePath_; }
    bool logDialogOpen() const { return logDialogOpen_; }
    bool optionsDialogOpen() const { return optionsDialogOpen_; }
    // True once a written report or the data file failed; the operator has been told.
    const std::string& lastFileError() const { return lastFileError_; }
    // Writes the report without dialogs (the batch mode).
    bool writeReport(const std::string& path, bool statistics, bool sensors, bool optics, bool video,
                     const std::string& serial, std::string& error);

    // --- service history ------------------------------------------------------------------------
    // Where the visit's readings are kept (none: not kept). A written report stores the reading
    // it was made from; closing stores records read since then. The writer stores on a thread
    // of its own; what came of it is told when the binding calls onHistoryResults() (the
    // writer asks it to). Trouble with the history is told once, under the caption "History",
    // and the program goes on; a reading that is not kept is told every time.
    void setHistory(history::HistoryWriter* writer) { history_ = writer; }
    void onHistoryResults();
    ReadingCollector& readings() { return readings_; }
    // After onDestroy(): readings that are not kept anywhere (refused, or held in memory only),
    // and what the operator should hear at the end about readings still waiting to be sent.
    std::size_t readingsNotKept() const { return readingsNotKept_; }
    const std::string& historyExitNote() const { return historyExitNote_; }

private:
    void showLineNote();
    void requestStatistics();
    void clearStatistics();
    void toggleEventPage();
    void toggleBillPage();
    void selectColour(int colour);
    void setPollPeriodCommand(unsigned ms);
    void recordTraffic();
    void storeVisit(int parts, const std::string& serial, const std::tm& localTime);
    void tellHistoryResult(const history::WriteResult& result);
    void finishHistory();

    View& view_;
    BusLog busLog_; // outlives the link worker that records into it
    link::LinkData data_;
    link::PortMap& ports_;
    link::ComLink comLink_;
    control::Controller controller_;
    diagnostics::StatisticsData stats_{};
    diagnostics::SensorsData sensors_{};
    diagnostics::OpticsData optics_{};
    diagnostics::VideoTestData video_{};
    TrafficView traffic_;
    DataRecorder recorder_;
    OptionsState options_;
    PaintSurface* trafficImage_ = nullptr;
    std::string settingsDir_ = ".";
    std::function<std::tm()> clock_;
    bool billsFirstHalf_ = true;
    bool eventsFirstHalf_ = true;
    std::optional<Page> shownBar_; // the page whose bar is shown
    bool logDialogOpen_ = false;
    bool optionsDialogOpen_ = false;
    bool settingsErrorReported_ = false;
    bool linkFailureReported_ = false;
    link::Framing shownFraming_ = link::Framing::QuietLine;
    link::WorkerPriority shownPriority_ = link::WorkerPriority::Unknown;
    std::string logFilePath_;
    std::string logSerialNumber_;
    std::string lastFileError_;
    ReadingCollector readings_;
    history::HistoryWriter* history_ = nullptr;
    std::size_t readingsNotKept_ = 0;
    bool historyFinished_ = false;
    std::string historyExitNote_;

    // Listening to a machine.
    void takeHeard();
    void recordHeard(const link::HeardExchange& heard);
    std::string listeningNote() const;
    std::unique_ptr<MachineListener> listener_;
    MachineListener::Heard heardObserver_;
    bool listenFailed_ = false;
    std::string shownListeningNote_;

    // Bus monitor.
    void sendTypedIfIdle();
    control::TypedFrame typed_;
    bool typedPending_ = false;
    bool downloading_ = false;
};

} // namespace norvex::ui
