// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bus monitor window: every frame and answer decoded and timed, with filters, follow and
// pause, search, copy, CSV export, the bus capture, and a command line for typed frames.

#include "BusMonitorModel.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTableView;

namespace norvex::ui {
class MainWindowLogic;
}

namespace norvex::qt {

class BusMonitorWindow final : public QWidget {
    Q_OBJECT
public:
    // Returns the chosen path, or nothing for Cancel (tests answer the file dialogs here).
    using SavePathHook = std::function<std::optional<std::string>(const std::string& title)>;

    explicit BusMonitorWindow(ui::MainWindowLogic& core, QWidget* parent = nullptr);

    BusMonitorModel& model() { return model_; }
    QTableView* table() const { return table_; }
    void setSavePathHook(SavePathHook hook) { savePathHook_ = std::move(hook); }
    // Takes what the link recorded and shows it (the window's own timer does this too).
    void refresh();

    // --- the operator's actions, also for tests ---------------------------------------------------
    void setFilter(const ui::MonitorFilter& filter);
    void setFollow(bool follow);
    bool follows() const;
    bool findNext(const QString& text, bool backwards = false);
    QString copySelection();
    void exportCsv();
    void saveCapture();
    void sendTyped(const QString& text);
    QString statusText() const;

    // Asks where to save (the hook, or a file dialog); nothing on Cancel.
    static std::optional<std::string> askSavePath(QWidget* parent, const QString& title,
                                                  const QString& filter, const QString& suffix,
                                                  const SavePathHook& hook);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void applyFilter();
    // A message on the status line while `stillTrue` holds, and `seconds` at most.
    void showStatus(const QString& text, std::function<bool()> stillTrue = {}, int seconds = 10);
    // Every column within the table's width: the short ones at their contents' width, the rest
    // shared by bytes, meaning and note.
    void fitColumns();
    void selectRow(int row, bool clearOthers);
    // The rows selected, in order.
    std::vector<int> selectedRowNumbers() const;

    ui::MainWindowLogic& core_;
    BusMonitorModel model_;
    QTableView* table_ = nullptr;
    QCheckBox* hidePolls_ = nullptr;
    QComboBox* command_ = nullptr;
    QCheckBox* onlyFaults_ = nullptr;
    QComboBox* address_ = nullptr;
    QCheckBox* follow_ = nullptr;
    QSpinBox* keep_ = nullptr;
    QLineEdit* search_ = nullptr;
    QLineEdit* typed_ = nullptr;
    QPushButton* send_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer timer_;
    SavePathHook savePathHook_;

    struct Message {
        QString text;
        std::function<bool()> stillTrue;
        QElapsedTimer shown;
        int seconds = 10;
    };
    std::optional<Message> message_;
    bool selecting_ = false; // the window moves the selection itself: following goes on
    bool userSized_ = false; // the operator has set a column's width: left as it is
    bool fitting_ = false;   // fitColumns() is setting the widths
};

} // namespace norvex::qt
