#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "core/task_record.h"
#include "page_shots.h"
#include "ui/mask_dialogs.h"
#include "ui/new_task_wizard.h"

namespace {

using namespace zentrove;
using namespace zentrove::testing;

// A home of the pictures' own while they are drawn, so the folder tree never shows the user's files;
// the other groups get the home back.
class ShotsHome {
 public:
  ShotsHome() : path_(shots::Folder() + "/wizard-home") {
    if (const char* home = std::getenv("HOME")) saved_ = home;
    for (const char* folder : {"Documents/Letters", "Pictures", "Projects/zentrove"})
      std::filesystem::create_directories(std::filesystem::path(path_) / folder);
    for (const char* file : {"Documents/budget.ods", "Documents/notes.txt", "Documents/.draft.txt"})
      std::ofstream(std::filesystem::path(path_) / file) << "text\n";
    setenv("HOME", path_.c_str(), 1);
  }
  ~ShotsHome() {
    if (saved_) {
      setenv("HOME", saved_->c_str(), 1);
    } else {
      unsetenv("HOME");
    }
  }
  ShotsHome(const ShotsHome&) = delete;
  ShotsHome& operator=(const ShotsHome&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::optional<std::string> saved_;
};

}  // namespace

ZENTROVE_PAGE_SHOTS(Wizard) {
  const ShotsHome shotsHome;
  const std::string& home = shotsHome.Path();
  auto task = core::NewTaskRecord();
  task->TaskNumber = 1003;
  task->Description = "The task # 1003";
  ui::NewTaskWizardContext context;
  context.taskNumbers = {1001, 1002};
  ui::NewTaskWizard wizard(nullptr, *task, context);
  const auto find = [&wizard](const char* name) { return wizard.findChild<QWidget*>(name); };

  shots::Save(wizard, "wizard-01-welcome");
  wizard.Next();
  shots::Save(wizard, "wizard-02-description");
  wizard.Next();
  static_cast<QLineEdit*>(find("includeFiles"))->setText(QString::fromStdString(home + "/Documents/*.*"));
  static_cast<QLineEdit*>(find("excludeFiles"))->setText("*.tmp;*.bak");
  shots::Save(wizard, "wizard-03-sources");
  wizard.Next();
  static_cast<QLineEdit*>(find("archiveFolder"))->setText("/media/backup");
  static_cast<QLineEdit*>(find("prefix"))->setText("documents_");
  shots::Save(wizard, "wizard-04-destination");
  wizard.Back();
  wizard.Back();
  static_cast<QRadioButton*>(find("modeFtp"))->click();
  wizard.Next();
  wizard.Next();
  static_cast<QLineEdit*>(find("ftpPassword"))->setText("secret");
  shots::Save(wizard, "wizard-05-ftp-destination");
  wizard.Next();
  shots::Save(wizard, "wizard-06-schedule");
  auto* kinds = static_cast<QListWidget*>(find("scheduleKind"));
  const std::pair<int, const char*> starts[] = {{0, "wizard-07-start-days"},
                                                {1, "wizard-08-start-weeks"},
                                                {2, "wizard-09-start-months"},
                                                {6, "wizard-10-start-after-task"},
                                                {7, "wizard-11-start-on-change"}};
  wizard.Next();
  for (const auto& [kind, name] : starts) {
    kinds->setCurrentRow(kind);
    shots::Save(wizard, name);
  }
  kinds->setCurrentRow(0);
  wizard.Next();
  shots::Save(wizard, "wizard-12-finish");
}

ZENTROVE_PAGE_SHOTS(MaskDialogs) {
  const ShotsHome shotsHome;
  const std::string& home = shotsHome.Path();
  ui::EditMaskDialog include(nullptr, true, home + "/Documents/*.*;" + home + "/Projects/*.cpp", false);
  include.SelectPath(home + "/Documents/notes.txt");
  shots::Save(include, "mask-01-include");
  ui::EditMaskDialog exclude(nullptr, false, "*.tmp;*.bak", true);
  shots::Save(exclude, "mask-02-exclude");
  ui::WildcardMaskDialog wildcard(nullptr, home + "/Documents", "*.*");
  shots::Save(wildcard, "mask-03-wildcard");
}
