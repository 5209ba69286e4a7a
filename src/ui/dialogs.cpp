#include "ui/dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QVBoxLayout>
#include <filesystem>

#include "core/version.h"
#include "ui/pictures.h"

namespace zentrove::ui {

PasswordDialog::PasswordDialog(QWidget* parent, std::function<bool(const std::string&)> matches,
                               std::function<void()> granted)
    : QDialog(parent) {
  setWindowTitle("Zentrove: Password Check");
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel("Enter Password", this));
  auto* entry = new QLineEdit(this);
  entry->setEchoMode(QLineEdit::Password);
  layout->addWidget(entry);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton("Ok", QDialogButtonBox::AcceptRole);
  buttons->addButton("Cancel", QDialogButtonBox::RejectRole);
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(this, &QDialog::accepted, this,
          [entry, matches = std::move(matches), granted = std::move(granted)] {
            // A wrong entry leaves everything as it was, without a word.
            if (matches(entry->text().toStdString())) granted();
          });
  setModal(true);
}

const std::vector<std::string>& TipTexts() {
  static const std::vector<std::string> tips = {
      "A double click on the tray icon shows and hides the task list.",
      "Right-click a task in the list for the commands that act on it.",
      "Click a column header to sort the tasks by that column; click it again to reverse the order.",
      "\"Execute the batch\" runs a task and then every task set to run after it.",
      "\"Log for the current task\" shows only the log lines of the selected task.",
      "Tasks marked for the \"Run ...\" menu can be started straight from the tray icon.",
  };
  return tips;
}

TipsWindow::TipsWindow(QWidget* parent, std::vector<std::string> tips, bool showTips, int firstTip,
                       std::function<void(bool)> saveShowTips)
    : QDialog(parent), tips_(std::move(tips)), saveShowTips_(std::move(saveShowTips)) {
  setWindowTitle("The Tip Of The Day");
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  auto* heading = new QLabel("Did you know ...", this);
  QFont font = heading->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.3);
  heading->setFont(font);
  layout->addWidget(heading);
  text_ = new QLabel(this);
  text_->setWordWrap(true);
  text_->setMinimumSize(360, 80);
  text_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  layout->addWidget(text_);
  showAtStart_ = new QCheckBox("Display The Tip Of The Day at startup", this);
  showAtStart_->setChecked(showTips);
  layout->addWidget(showAtStart_);
  auto* row = new QHBoxLayout;
  auto* next = new QPushButton("&Next Tip", this);
  auto* previous = new QPushButton("&Previous Tip", this);
  auto* close = new QPushButton("&Close", this);
  row->addWidget(next);
  row->addWidget(previous);
  row->addStretch();
  row->addWidget(close);
  layout->addLayout(row);
  connect(next, &QPushButton::clicked, this, [this] { Step(1); });
  connect(previous, &QPushButton::clicked, this, [this] { Step(-1); });
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
  current_ = tips_.empty() ? 0
                           : ((firstTip % static_cast<int>(tips_.size())) + static_cast<int>(tips_.size())) %
                                 static_cast<int>(tips_.size());
  Step(0);
}

void TipsWindow::Step(int delta) {
  if (tips_.empty()) return;
  const int count = static_cast<int>(tips_.size());
  current_ = ((current_ + delta) % count + count) % count;
  text_->setText(QString::fromStdString(tips_[static_cast<std::size_t>(current_)]));
}

void TipsWindow::done(int result) {
  if (saveShowTips_) saveShowTips_(showAtStart_->isChecked());
  QDialog::done(result);
}

NotificationWindow::NotificationWindow(const std::string& caption, const std::string& text,
                                       base::TDateTime closeAt, std::function<base::TDateTime()> now)
    : QDialog(nullptr, Qt::Window | Qt::WindowStaysOnTopHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint) {
  setWindowTitle(QString::fromStdString(caption));
  setAttribute(Qt::WA_DeleteOnClose);
  setStyleSheet("background: white;");
  auto* layout = new QVBoxLayout(this);
  auto* row = new QHBoxLayout;
  auto* picture = new QLabel(this);
  picture->setPixmap(TrayIcon(0).pixmap(32, 32));
  picture->setAlignment(Qt::AlignTop);
  row->addWidget(picture);
  auto* message = new QLabel(QString::fromStdString(text), this);
  message->setWordWrap(true);
  QFont font = message->font();
  font.setBold(true);
  message->setFont(font);
  message->setMinimumWidth(280);
  row->addWidget(message, 1);
  layout->addLayout(row);
  auto* closeButton = new QPushButton("Close", this);
  layout->addWidget(closeButton);
  connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, [this, closeAt, now = std::move(now)] {
    if (now() >= closeAt) {
      timer_.stop();
      close();
    }
  });
  timer_.start();
}

SourceFoldersDialog::SourceFoldersDialog(QWidget* parent, const std::vector<std::string>& entries,
                                         std::function<void(const std::string&)> openFolder)
    : QDialog(parent), openFolder_(std::move(openFolder)) {
  setWindowTitle("Source files and folders");
  setAttribute(Qt::WA_DeleteOnClose);
  auto* layout = new QVBoxLayout(this);
  list_ = new QListWidget(this);
  list_->setToolTip("List Of Source Files and Folders");
  for (const std::string& entry : entries)
    list_->addItem(QString::fromStdString(entry));
  if (list_->count() > 0) list_->setCurrentRow(0);
  layout->addWidget(list_);
  auto* row = new QHBoxLayout;
  auto* open = new QPushButton("Open", this);
  auto* exit = new QPushButton("Exit", this);
  row->addStretch();
  row->addWidget(open);
  row->addWidget(exit);
  layout->addLayout(row);
  connect(open, &QPushButton::clicked, this, &SourceFoldersDialog::OpenCurrent);
  connect(list_, &QListWidget::itemDoubleClicked, this, &SourceFoldersDialog::OpenCurrent);
  connect(exit, &QPushButton::clicked, this, &QDialog::accept);
  resize(420, 260);
}

void SourceFoldersDialog::OpenCurrent() {
  const QListWidgetItem* item = list_->currentItem();
  if (item == nullptr) return;
  const std::filesystem::path entry(item->text().toStdString());
  std::error_code error;
  // An entry names a folder, or a file mask whose folder part is the folder to show.
  const std::filesystem::path folder =
      std::filesystem::is_directory(entry, error) ? entry : entry.parent_path();
  if (!folder.empty() && std::filesystem::is_directory(folder, error)) {
    openFolder_(folder.string());
  } else {
    QMessageBox::warning(this, "Zentrove",
                         QString::fromStdString("Directory " + folder.string() + " not found !"));
  }
}

void ShowLogoWindow(std::chrono::milliseconds duration) {
  QLabel logo(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::SplashScreen);
  QPixmap picture = LogoPicture();
  {
    QPainter painter(&picture);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(14);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(picture.rect().adjusted(0, 0, -14, -10), Qt::AlignRight | Qt::AlignBottom,
                     QString("v") + QString::fromUtf8(core::VersionText().data(),
                                                      static_cast<int>(core::VersionText().size())));
  }
  logo.setPixmap(picture);
  logo.setFixedSize(picture.size());
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    logo.move(screen->availableGeometry().center() - logo.rect().center());
  }
  logo.show();
  // The start waits here on purpose; only painting is processed meanwhile, no input and no timers of
  // the program, which do not exist yet.
  QElapsedTimer elapsed;
  elapsed.start();
  while (elapsed.elapsed() < duration.count()) {
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    QThread::msleep(20);
  }
}

}  // namespace zentrove::ui
