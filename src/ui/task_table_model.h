#pragma once

#include <QAbstractTableModel>
#include <QStyledItemDelegate>
#include <QTimer>
#include <chrono>
#include <memory>
#include <mutex>
#include <set>

#include "core/task_grid.h"
#include "core/task_list.h"

namespace zentrove::ui {

// The task grid's model: one row per task in list order, and one empty row for an empty list. The
// texts come from core/task_grid, the pictures and colours from grid_cells; this class only hands
// them to the view and passes the list's notifications on.
class TaskTableModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  // Repaints of one row come at most this often, however fast a run reports its progress.
  static constexpr std::chrono::milliseconds kRefreshInterval{100};

  explicit TaskTableModel(core::GridTextSources texts = {}, QObject* parent = nullptr);
  ~TaskTableModel() override;

  void SetList(core::TArhList* list);
  core::TArhList* List() const { return list_; }
  // The list's hooks into this model.
  core::TaskListView View();

  // nullptr for the empty row of an empty list and for rows outside the list.
  core::TArhRecord* TaskAt(int row) const;
  // -1 when the task is not listed.
  int RowOfTask(int taskNumber) const;

  // Asks for the task's row to be repainted. Any thread; refreshes that come within one interval are
  // passed on together.
  void RequestRefresh(int taskNumber);
  // Main thread: passes the waiting refreshes on now.
  void FlushRefreshes();
  // How many times refreshes were passed on to the view.
  int RefreshPasses() const { return refreshPasses_; }

  void Reset();
  std::string CellText(int column, const core::TArhRecord& task) const {
    return core::GetCellText(column, task, texts_);
  }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

 private:
  void RowChanged(int row);

  core::GridTextSources texts_;
  core::TArhList* list_ = nullptr;
  // The first task takes the place of the empty row and the last one leaves it behind: the number
  // of rows stays, so no insertion or removal is announced.
  bool inserting_ = false;
  bool removing_ = false;
  QTimer refreshTimer_;
  std::mutex pendingMutex_;
  std::set<int> pending_;
  bool flushQueued_ = false;
  int refreshPasses_ = 0;
  // Calls queued by other threads check this before they touch the model.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Draws the grid's cells: pictures, coloured and bold texts, the selected row on the tooltip colour.
class TaskCellDelegate final : public QStyledItemDelegate {
 public:
  explicit TaskCellDelegate(TaskTableModel* model, QObject* parent = nullptr);
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  TaskTableModel* model_;
};

}  // namespace zentrove::ui
