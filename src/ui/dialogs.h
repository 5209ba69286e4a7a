#pragma once

#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "base/datetime.h"

class QCheckBox;
class QListWidget;

// The main window's smaller windows.
namespace zentrove::ui {

// "Zentrove: Password Check". Shown without a loop of its own; `granted` runs after a correct entry.
// The comparison ignores letter case.
class PasswordDialog final : public QDialog {
 public:
  PasswordDialog(QWidget* parent, std::function<bool(const std::string& entered)> matches,
                 std::function<void()> granted);
};

// "The Tip Of The Day". `saveShowTips` receives the tick box when the window closes.
class TipsWindow final : public QDialog {
 public:
  TipsWindow(QWidget* parent, std::vector<std::string> tips, bool showTips, int firstTip,
             std::function<void(bool showTips)> saveShowTips);
  int CurrentTip() const { return current_; }
  void Step(int delta);

 protected:
  void done(int result) override;

 private:
  std::vector<std::string> tips_;
  int current_ = 0;
  QLabel* text_ = nullptr;
  QCheckBox* showAtStart_ = nullptr;
  std::function<void(bool)> saveShowTips_;
};
const std::vector<std::string>& TipTexts();

// "Zentrove notification": stays on top and closes itself when `closeAt` has come.
class NotificationWindow final : public QDialog {
 public:
  NotificationWindow(const std::string& caption, const std::string& text, base::TDateTime closeAt,
                     std::function<base::TDateTime()> now);

 private:
  QTimer timer_;
};

// "Source files and folders": the entries of a task's source list; Open shows an entry's folder.
class SourceFoldersDialog final : public QDialog {
 public:
  SourceFoldersDialog(QWidget* parent, const std::vector<std::string>& entries,
                      std::function<void(const std::string& folder)> openFolder);

 private:
  void OpenCurrent();
  QListWidget* list_ = nullptr;
  std::function<void(const std::string&)> openFolder_;
};

// The start-up logo: shown at once, then the start waits `duration` with the logo painted.
void ShowLogoWindow(std::chrono::milliseconds duration);

}  // namespace zentrove::ui
