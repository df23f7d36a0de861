// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The service history window (menu "History"): the units seen with their last visit and latest
// acceptance rate; for the chosen unit its visits, the report of a visit made again from the
// stored records, trend charts across the visits, two visits side by side, and the CSV export.
// It follows the history: a reading stored while it is open appears. All it shows comes from
// the toolkit-free history library.

#include "history/History.h"

#include <QTimer>
#include <QWidget>

#include <string>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QScrollArea;
class QSplitter;
class QStackedWidget;
class QTabWidget;
class QTreeWidget;
class QCheckBox;

namespace norvex::qt {

class TrendChartGrid;

class HistoryWindow final : public QWidget {
    Q_OBJECT
public:
    explicit HistoryWindow(history::History& history, QWidget* parent = nullptr);

    // Reads the units again from the history; the unit, visits and page shown stay.
    void refresh();
    // Shows that unit's visits and charts; false when it is not in the history.
    bool selectUnit(const std::string& serial);
    // The report of a visit, made again, on the "Report" page (brought to the front unless not
    // asked to be).
    bool showReport(const std::string& readingId, bool bringToFront = true);
    // Two visits side by side on the "Compare" page.
    bool compare(const std::string& beforeId, const std::string& afterId);
    // The chosen unit's history as CSV into a file; false with the reason shown.
    bool exportCsv(const std::string& path);
    // Another history (the setting is saved in its own file).
    void useHistory(const std::string& url);
    // Looks whether readings were stored since the window last read the history, and shows them
    // (the window's timer does this while it is shown). True when something changed.
    bool followHistory();

    // How often the window looks for new readings while it is shown.
    static constexpr int FOLLOW_MS = 2000;

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
    QSplitter* splitter() const { return split_; }
    int chartCount() const;
    QWidget* chart(int index) const;
    TrendChartGrid* chartGrid() const { return charts_; }
    const std::string& selectedUnit() const { return unit_; }
    // What the right-hand side says when it has nothing to show (empty when it shows a unit).
    QString hint() const;
    QString status() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showFault(const QString& what, const history::Fault& fault);
    bool loadUnit(const std::string& serial, const std::vector<std::string>& keepVisits);
    void showSelectedReport();
    void compareSelected();
    void exportDialog();
    void chooseDatabase();
    void applyChangedOnly();
    void showHint(const QString& text);
    void fitUnitColumns();
    void fitSplitter();
    std::vector<std::string> selectedVisitIds() const;
    // Units, their visits and last visit as the window last read them.
    std::string unitsFingerprint(const std::vector<history::UnitSummary>& units) const;

    history::History& history_;
    std::string unit_;
    std::string shownFingerprint_;
    bool readFailed_ = false;
    bool columnsFitted_ = false;
    bool splitMoved_ = false; // by the operator: the window leaves it where it is
    QLabel* where_ = nullptr;
    QLabel* status_ = nullptr;
    QSplitter* split_ = nullptr;
    QTreeWidget* units_ = nullptr;
    QStackedWidget* right_ = nullptr;
    QLabel* hint_ = nullptr;
    QTreeWidget* visits_ = nullptr;
    QTreeWidget* differences_ = nullptr;
    QLabel* compareHint_ = nullptr;
    QCheckBox* changedOnly_ = nullptr;
    QPlainTextEdit* report_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    QScrollArea* chartArea_ = nullptr;
    TrendChartGrid* charts_ = nullptr;
    QTimer follow_;
};

} // namespace norvex::qt
