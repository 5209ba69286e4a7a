#pragma once

#include <functional>
#include <string>

#include "core/task_list.h"
#include "core/user_interface.h"
#include "ui/main_window.h"

namespace zentrove::ui {

// The real windows behind the main window's commands: the wizard, the task editor, the options window
// and the external archiver editor.
class DesktopEditors final : public TaskEditors {
 public:
  struct Services {
    core::UserInterface* ui = nullptr;
    // The list the editors read numbers and the task file from; none before the application starts.
    std::function<core::TArhList*()> tasks;
    std::function<core::IniFile*()> optionsFile;
    std::function<std::string()> configFolder;
    std::function<void(const std::string& path)> openPath;
  };

  explicit DesktopEditors(Services services) : services_(std::move(services)) {}

  bool RunWizard(QWidget* parent, core::TArhRecord& task) override;
  bool RunEditor(QWidget* parent, core::TArhRecord& task, const QString& caption) override;
  void RunOptions(QWidget* parent) override;
  void RunArchiverEditor(QWidget* parent) override;

 private:
  std::vector<int> TaskNumbers() const;

  Services services_;
};

}  // namespace zentrove::ui
