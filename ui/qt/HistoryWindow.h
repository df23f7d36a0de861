#pragma once
// The service history window (menu "History"): the units seen with their last visit and latest
// acceptance rate; for the chosen unit its visits, the report of a visit made again from the
// stored records, trend charts across the visits, two visits side by side, and the CSV export.
// All it shows comes from the toolkit-free history library.

#include "history/History.h"

#include <QWidget>

#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QScrollArea;
class QTabWidget;
class QTreeWidget;
class QCheckBox;

namespace norvex::qt {

class HistoryWindow final : public QWidget {
    Q_OBJECT
public:
    explicit HistoryWindow(history::History& history, QWidget* parent = nullptr);

    // Reads the units again from the history.
    void refresh();
    // Shows that unit's visits and charts; false when it is not in the history.
    bool selectUnit(const std::string& serial);
    // The report of a visit, made again, on the "Report" page.
    bool showReport(const std::string& readingId);
    // Two visits side by side on the "Compare" page.
    bool compare(const std::string& beforeId, const std::string& afterId);
    // The chosen unit's history as CSV into a file; false with the reason shown.
    bool exportCsv(const std::string& path);
    // Another history (the setting is saved in its own file).
    void useHistory(const std::string& url);

signals:
    // Another history was chosen: readings are stored there from now on.
    void historyChosen(const QString& url);
    // The window was (re)read: readings kept on this computer for this history should go now.
    // The window never stores them itself.
    void keptReadingsWanted();

public:
    // --- for tests ----------------------------------------------------------------------------
    QTreeWidget* units() const { return units_; }
    QTreeWidget* visits() const { return visits_; }
    QTreeWidget* differences() const { return differences_; }
    QPlainTextEdit* report() const { return report_; }
    QTabWidget* tabs() const { return tabs_; }
    int chartCount() const { return static_cast<int>(charts_.size()); }
    QWidget* chart(int index) const { return charts_.at(static_cast<std::size_t>(index)); }
    const std::string& selectedUnit() const { return unit_; }
    QString status() const;

private:
    void showFault(const QString& what, const history::Fault& fault);
    void fillCharts(const std::vector<history::VisitSummary>& visits);
    void showSelectedReport();
    void compareSelected();
    void exportDialog();
    void chooseDatabase();
    void applyChangedOnly();
    std::vector<std::string> selectedVisitIds() const;

    history::History& history_;
    std::string unit_;
    QLabel* where_ = nullptr;
    QLabel* status_ = nullptr;
    QTreeWidget* units_ = nullptr;
    QTreeWidget* visits_ = nullptr;
    QTreeWidget* differences_ = nullptr;
    QCheckBox* changedOnly_ = nullptr;
    QPlainTextEdit* report_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QScrollArea* chartArea_ = nullptr;
    std::vector<QWidget*> charts_;
};

} // namespace norvex::qt
