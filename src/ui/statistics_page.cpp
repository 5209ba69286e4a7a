#include "ui/statistics_page.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

#include "core/task_statistics.h"
#include "ui/off_main_thread.h"
#include "ui/pictures.h"

namespace zentrove::ui {

StatisticsPage::StatisticsPage(const core::TArhRecord& task, Actions actions, QWidget* parent)
    : QWidget(parent), actions_(std::move(actions)) {
  core::CopyTaskRecord(task, task_);
  auto* layout = new QVBoxLayout(this);
  auto* moments = new QGridLayout;
  moments->addWidget(new QLabel("Last archiving was", this), 0, 0);
  last_ = new QLabel(QString::fromStdString(core::StatisticsMomentText(task_.LastArh)), this);
  moments->addWidget(last_, 0, 1);
  moments->addWidget(new QLabel("Next archiving will", this), 1, 0);
  next_ = new QLabel(QString::fromStdString(core::StatisticsMomentText(task_.NextArh)), this);
  moments->addWidget(next_, 1, 1);
  moments->setColumnStretch(1, 1);
  layout->addLayout(moments);
  lines_ = new QListWidget(this);
  lines_->setUniformItemSizes(true);
  lines_->setObjectName("statisticsLines");
  layout->addWidget(lines_, 1);
  auto* buttons = new QHBoxLayout;
  const char* captions[] = {"Main dir.", "Extra folder 1", "Extra folder 2", "Extra folder 3"};
  for (int destination = 0; destination < 4; ++destination) {
    auto* button = new QPushButton(captions[destination], this);
    connect(button, &QPushButton::clicked, this, [this, destination] { OpenDestination(destination); });
    buttons->addWidget(button);
  }
  buttons->addStretch();
  layout->addLayout(buttons);
}

QString StatisticsPage::LastText() const {
  return last_->text();
}

QString StatisticsPage::NextText() const {
  return next_->text();
}

void StatisticsPage::Start() {
  if (started_) return;
  started_ = true;
  // The thread owns a copy of the task; the page may close long before it ends.
  RunOffMainThread(
      this, [task = task_] { return core::ReadStatisticsPage(task); },
      [](StatisticsPage& page, core::TaskStatisticsPage read) {
        page.pending_ = std::move(read.log.lines);
        page.AddPendingLines();
      });
}

void StatisticsPage::AddPendingLines() {
  // A few thousand lines at a time, so a long log fills the view while the window stays responsive.
  constexpr std::size_t kBatch = 2000;
  const std::size_t end = std::min(pending_.size(), added_ + kBatch);
  for (; added_ < end; ++added_) {
    const log::LogPaneLine& line = pending_[added_];
    auto* item = new QListWidgetItem(QString::fromStdString(line.text), lines_);
    item->setForeground(ColourFromValue(line.colour));
  }
  if (added_ < pending_.size()) {
    QTimer::singleShot(0, this, [this] { AddPendingLines(); });
    return;
  }
  pending_.clear();
  loaded_ = true;
}

void StatisticsPage::OpenDestination(int destination) {
  const std::string folder = actions_.folder ? actions_.folder(destination) : std::string();
  if (folder.empty()) {
    if (actions_.showMessage)
      actions_.showMessage(destination == 0 ? "Enter archive folder"
                                            : "Additional destination folder is not configured");
    return;
  }
  if (actions_.openPath) actions_.openPath(folder);
}

}  // namespace zentrove::ui
