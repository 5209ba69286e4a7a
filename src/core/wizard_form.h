#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "base/datetime.h"
#include "core/task_record.h"

namespace zentrove::core {

// The wizard's pages in order; the fourth exists in a folder form and an FTP form.
enum class WizardPage {
  Welcome,
  Description,
  Sources,
  Destination,
  FtpDestination,
  Schedule,
  StartTime,
  Finish
};

// What the wizard's controls hold.
struct WizardValues {
  // Page 2.
  std::string comment;
  int mode = 0;
  // Page 3.
  std::string includeList;
  std::string excludeList;
  bool includeSubfolders = true;
  int backupKind = 0;  // "Full", "Incremental", "Differential"
  // Page 4, folder form.
  std::string archiveFolder;
  std::string prefix;
  std::string dateFormat;
  int depth = 0;
  // Page 4, FTP form.
  std::string host;
  std::string port = "21";
  std::string ftpFolder;
  std::string ftpUser = "anonymous";
  std::string ftpPassword;
  std::string ftpPrefix;
  std::string ftpDateFormat = "YYYYMMDD";
  int ftpDepth = 0;
  int serverType = 0;
  bool passive = false;
  // Pages 5 and 6.
  int scheduleKind = 0;
  base::TDateTime startTime = 0;
  base::TDateTime startDate = 0;
  int everyDay = 1;
  int everyWeek = 1;
  std::array<bool, 7> dayOfWeek{};  // element 0 is Sunday
  int dayOfMonth = 1;
  std::array<bool, 12> months{};
  base::TDateTime onceDate = 0;
  base::TDateTime delay = 0;
  std::string runAfterTask;
  int runAfterKind = 0;
  std::array<bool, 8> changeFlags{};  // fnFileName ... fnSecurity in the order of the record
};

struct WizardAvailability {
  bool back = false;
  bool next = false;
  bool cancel = true;
  bool done = false;
  // Page 6: the group of the chosen kind (as the editor's rule, without the repeat controls).
  bool daysGroup = false;
  bool weeksGroup = false;
  bool monthsGroup = false;
  bool onceGroup = false;
  bool delayGroup = false;
  bool runAfterGroup = false;
  bool changeGroup = false;
  bool startDate = false;
  bool startTime = false;
  bool depth = false;  // "Archive Depth" of the folder form
};

// The new-task wizard's model. Next and Back move between the pages, Done checks and fills the task.
class WizardForm {
 public:
  struct Settings {
    bool disableDeepWhenNoPrefix = true;
    int compressionMethod = 6;
    base::TDateTime now = 0;
    std::vector<int> taskNumbers;  // the "Task " list, in list order
  };

  WizardForm(const TArhRecord& task, Settings settings);

  WizardValues values;

  WizardPage Page() const { return page_; }
  // "Step N of 6" on pages 1 to 6, empty on the last page.
  std::string StepText() const;
  std::string_view CaptionText() const;
  WizardAvailability Availability() const;

  void Next();
  void Back();

  // Couplings.
  void OnPrefixChanged();
  std::string_view RunAfterLeftMessage() const;

  // Done: the first refusal's message, or empty when the task was filled. A refusal leaves the task
  // unchanged, so the values stored before the failing step never reach it alone.
  [[nodiscard]] std::string Done(TArhRecord& task) const;
  // What Done stores, without its checks: the pages as they stand written into the task.
  void Fill(TArhRecord& task) const;

 private:
  Settings settings_;
  int taskNumber_;
  WizardPage page_ = WizardPage::Welcome;
};

}  // namespace zentrove::core
