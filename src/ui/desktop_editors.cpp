#include "ui/desktop_editors.h"

#include "core/config_folder.h"
#include "core/options.h"
#include "log/log.h"
#include "ui/archiver_editor.h"
#include "ui/mask_dialogs.h"
#include "ui/new_task_wizard.h"
#include "ui/options_window.h"
#include "ui/task_editor.h"

namespace zentrove::ui {

std::vector<int> DesktopEditors::TaskNumbers() const {
  core::TArhList* list = services_.tasks ? services_.tasks() : nullptr;
  return list != nullptr ? ListedTaskNumbers(*list) : std::vector<int>();
}

bool DesktopEditors::RunWizard(QWidget* parent, core::TArhRecord& task) {
  core::TArhList* list = services_.tasks ? services_.tasks() : nullptr;
  if (list == nullptr) return false;
  return RunNewTaskWizard(parent, task, MakeWizardContext(*list, *core::CurrentOptions(), services_.ui));
}

bool DesktopEditors::RunEditor(QWidget* parent, core::TArhRecord& task, const QString& caption) {
  core::TArhList* list = services_.tasks ? services_.tasks() : nullptr;
  TaskEditorContext context;
  context.disableDeepWhenNoPrefix = core::CurrentOptions()->DisableDeepWhenNoPrefix;
  context.taskFilePath = list != nullptr ? list->TaskFilePath() : std::string();
  context.taskNumbers = TaskNumbers();
  context.ui = services_.ui;
  context.openPath = services_.openPath;
  const bool serviceMode = core::ServiceMode();
  context.editMaskList = [serviceMode](QWidget* owner, bool include, std::string& masks) {
    return RunEditMaskDialog(owner, include, masks, serviceMode);
  };
  return RunTaskEditor(parent, task, caption, context);
}

void DesktopEditors::RunOptions(QWidget* parent) {
  OptionsWindowContext context;
  context.optionsFile = services_.optionsFile ? services_.optionsFile() : nullptr;
  context.ui = services_.ui;
  context.clearLog = [] { log::ClearLog(); };
  context.editArchivers = [this](QWidget* owner) { RunArchiverEditor(owner); };
  (void)RunOptionsWindow(parent, context);
}

void DesktopEditors::RunArchiverEditor(QWidget* parent) {
  ArchiverEditorContext context;
  context.configFolder = services_.configFolder ? services_.configFolder() : core::ConfigFolder();
  context.ui = services_.ui;
  ui::RunArchiverEditor(parent, context);
}

}  // namespace zentrove::ui
