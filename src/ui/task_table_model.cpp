#include "ui/task_table_model.h"

#include <QApplication>
#include <QFont>
#include <QPainter>
#include <algorithm>
#include <vector>

#include "ui/grid_cells.h"
#include "ui/pictures.h"

namespace zentrove::ui {

// Cells draw their contents this far in from the left and right edges, and from top and bottom.
constexpr int kCellInsetX = 2;
constexpr int kCellInsetY = 1;

TaskTableModel::TaskTableModel(core::GridTextSources texts, QObject* parent)
    : QAbstractTableModel(parent), texts_(std::move(texts)) {
  refreshTimer_.setSingleShot(true);
  refreshTimer_.setInterval(kRefreshInterval);
  connect(&refreshTimer_, &QTimer::timeout, this, &TaskTableModel::FlushRefreshes);
}

TaskTableModel::~TaskTableModel() {
  *alive_ = false;
}

void TaskTableModel::SetList(core::TArhList* list) {
  beginResetModel();
  list_ = list;
  endResetModel();
}

core::TaskListView TaskTableModel::View() {
  core::TaskListView view;
  view.RowAboutToBeInserted = [this](int index) {
    inserting_ = list_ != nullptr && list_->Count() > 0;
    if (inserting_) beginInsertRows(QModelIndex(), index, index);
  };
  view.RowInserted = [this](int index) {
    if (inserting_) {
      endInsertRows();
    } else {
      RowChanged(index);
    }
    inserting_ = false;
  };
  view.RowAboutToBeRemoved = [this](int index) {
    removing_ = list_ != nullptr && list_->Count() > 1;
    if (removing_) beginRemoveRows(QModelIndex(), index, index);
  };
  view.RowRemoved = [this](int) {
    if (removing_) {
      endRemoveRows();
    } else {
      RowChanged(0);
    }
    removing_ = false;
  };
  view.LayoutAboutToChange = [this] { emit layoutAboutToBeChanged(); };
  view.LayoutChanged = [this] { emit layoutChanged(); };
  view.RefreshRow = [this](int taskNumber, int) { RequestRefresh(taskNumber); };
  view.RepaintAll = [this] { Reset(); };
  return view;
}

void TaskTableModel::RowChanged(int row) {
  emit dataChanged(index(row, 0), index(row, kGridColumnCount - 1));
}

void TaskTableModel::Reset() {
  beginResetModel();
  endResetModel();
}

core::TArhRecord* TaskTableModel::TaskAt(int row) const {
  return list_ != nullptr ? list_->Get(row) : nullptr;
}

int TaskTableModel::RowOfTask(int taskNumber) const {
  if (list_ == nullptr) return -1;
  return list_->IndexOf(list_->FindByNumber(taskNumber));
}

void TaskTableModel::RequestRefresh(int taskNumber) {
  {
    std::lock_guard lock(pendingMutex_);
    pending_.insert(taskNumber);
    if (flushQueued_) return;
    flushQueued_ = true;
  }
  // The timer belongs to the main thread; the first refresh of an interval starts it there.
  QMetaObject::invokeMethod(
      this,
      [this, alive = std::weak_ptr<bool>(alive_)] {
        if (alive.expired()) return;
        if (!refreshTimer_.isActive()) refreshTimer_.start();
      },
      Qt::QueuedConnection);
}

void TaskTableModel::FlushRefreshes() {
  std::set<int> numbers;
  {
    std::lock_guard lock(pendingMutex_);
    numbers.swap(pending_);
    flushQueued_ = false;
  }
  refreshTimer_.stop();
  if (numbers.empty()) return;
  ++refreshPasses_;
  std::vector<int> rows;
  for (const int number : numbers) {
    if (const int row = RowOfTask(number); row >= 0) rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  // One change per run of adjacent rows.
  for (std::size_t first = 0; first < rows.size();) {
    std::size_t last = first;
    while (last + 1 < rows.size() && rows[last + 1] == rows[last] + 1)
      ++last;
    emit dataChanged(index(rows[first], 0), index(rows[last], kGridColumnCount - 1));
    first = last + 1;
  }
}

int TaskTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  return std::max(1, list_ != nullptr ? list_->Count() : 0);
}

int TaskTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kGridColumnCount;
}

QVariant TaskTableModel::data(const QModelIndex& index, int role) const {
  const core::TArhRecord* task = TaskAt(index.row());
  if (task == nullptr) return {};
  const int column = index.column();
  switch (role) {
    case Qt::DisplayRole:
      return QString::fromStdString(CellText(column, *task));
    case Qt::ForegroundRole:
      return ColourFromValue(CellTextColour(column, *task));
    case Qt::FontRole:
      if (CellTextBold(column)) {
        QFont font = QApplication::font();
        font.setBold(true);
        return font;
      }
      return {};
    default:
      return {};
  }
}

QVariant TaskTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::DisplayRole) return QString::fromStdString(std::string(core::ColumnHeader(section)));
  if (role == Qt::DecorationRole && list_ != nullptr && list_->Sort && list_->Col == section) {
    return SortArrow(list_->SUP);
  }
  return {};
}

TaskCellDelegate::TaskCellDelegate(TaskTableModel* model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

void TaskCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
  painter->save();
  const bool selected = (option.state & QStyle::State_Selected) != 0;
  painter->fillRect(option.rect, selected ? option.palette.toolTipBase() : option.palette.base());
  const core::TArhRecord* task = model_->TaskAt(index.row());
  if (task != nullptr) {
    const QRect inner = option.rect.adjusted(kCellInsetX, kCellInsetY, -kCellInsetX, -kCellInsetY);
    const int pictureTop = inner.top() + std::max(0, (inner.height() - kPictureSize) / 2);
    const int column = index.column();
    painter->setClipRect(inner);
    if (column == kStatusColumn) {
      painter->drawPixmap(inner.left(), pictureTop, TaskPixmap(StatusPicture(*task)));
    } else if (column == kExtraFoldersColumn) {
      int left = inner.left();
      for (const TaskPicture picture : FolderPictures(*task)) {
        painter->drawPixmap(left, pictureTop, TaskPixmap(picture));
        left += kPictureSize;
      }
    } else {
      QRect textRect = inner;
      if (column == kSourceColumn && SourceHasPicture(*task)) {
        painter->drawPixmap(inner.left(), pictureTop, TaskPixmap(TaskPicture::Inactive));
        textRect.setLeft(inner.left() + kPictureSize);
      }
      QFont font = option.font;
      font.setBold(CellTextBold(column));
      painter->setFont(font);
      painter->setPen(ColourFromValue(CellTextColour(column, *task)));
      painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                        QString::fromStdString(model_->CellText(column, *task)));
    }
  }
  painter->restore();
}

}  // namespace zentrove::ui
