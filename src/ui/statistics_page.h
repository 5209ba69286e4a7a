#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/task_record.h"
#include "log/log_pane_model.h"

class QLabel;
class QListWidget;

namespace zentrove::ui {

// The task editor's "Statistics" page: when the task ran last and runs next, and its log lines,
// newest first, coloured by level. The log may be large, so it is read on a worker thread when the
// page is first shown (Start); the lines arrive on the main thread and are dropped if the page has gone.
class StatisticsPage final : public QWidget {
 public:
  struct Actions {
    // The folder of "Main dir." (0) and "Extra folder 1" to "Extra folder 3" (1 to 3), as entered now.
    std::function<std::string(int destination)> folder;
    std::function<void(const std::string& path)> openPath;
    std::function<void(std::string_view message)> showMessage;
  };

  StatisticsPage(const core::TArhRecord& task, Actions actions, QWidget* parent = nullptr);

  // Starts reading the log; later calls do nothing.
  void Start();
  bool Started() const { return started_; }
  bool Loaded() const { return loaded_; }
  QListWidget* Lines() const { return lines_; }
  QString LastText() const;
  QString NextText() const;

 private:
  void AddPendingLines();
  void OpenDestination(int destination);

  core::TArhRecord task_;
  Actions actions_;
  QLabel* last_ = nullptr;
  QLabel* next_ = nullptr;
  QListWidget* lines_ = nullptr;
  std::vector<log::LogPaneLine> pending_;
  std::size_t added_ = 0;
  bool started_ = false;
  bool loaded_ = false;
};

}  // namespace zentrove::ui
