#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace zentrove::core {

enum class MessageIcon { Information, Warning, Error };

// Answers of the locked-file prompt, as the dialog's result values.
enum class LockedFileAnswer : int {
  Abort = 3,
  Retry = 4,
  Yes = 6,
  No = 7,
  NoToAll = 9,
  YesToAll = 10,
};

struct LockedFilePromptResult {
  int answer = 0;         // one of LockedFileAnswer, or the task's default action
  bool timedOut = false;  // no one answered: the default action was taken
};

// The dialogs the core needs. All calls are made on the main thread. The headless implementation
// answers at once with the default, so the service and scripts share the front end's code path.
class UserInterface {
 public:
  virtual ~UserInterface() = default;

  virtual bool IsHeadless() const = 0;
  virtual void ShowMessage(std::string_view title, std::string_view text, MessageIcon icon) = 0;
  // A Yes/No question; `defaultYes` is what the headless program answers.
  virtual bool Ask(std::string_view title, std::string_view text, bool defaultYes) = 0;
  // The prompt for a source file that another program holds open.
  virtual LockedFilePromptResult LockedFilePrompt(int taskNumber, std::string_view file, int defaultAction,
                                                  int timeoutSeconds) = 0;
  // The offer to shut down, restart or log off after a run; true when it should go ahead. The
  // headless program takes the time-out answer.
  virtual bool OfferShutdown(int what, int timeoutSeconds) = 0;
  // Another copy of the program asked this one to show its window.
  virtual void ShowMainWindow() = 0;
};

std::unique_ptr<UserInterface> MakeHeadlessUserInterface();

UserInterface& CurrentUserInterface();
void SetCurrentUserInterface(UserInterface* ui);

}  // namespace zentrove::core
