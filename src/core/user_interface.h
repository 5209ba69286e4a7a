#pragma once

#include <functional>
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

// The locked-file prompt of one run. `abandoned` turns true when the run no longer waits for the
// answer (it was stopped); an open prompt then closes itself and its answer is dropped.
struct LockedFilePromptRequest {
  int taskNumber = 0;
  std::string file;
  int defaultAction = 0;
  int timeoutSeconds = 30;
  std::function<bool()> abandoned;
};

// The dialogs the core needs. All calls are made on the main thread. The headless implementation
// answers at once with the default, so the service and scripts share the front end's code path.
//
// The "Then" forms hand the answer to a continuation on the main thread. The desktop program shows
// those boxes without an event loop of their own and returns at once, so the dispatcher and the ends
// of runs go on while a question is open; the continuation must find its task again by number. The
// default forms answer through the blocking calls before they return.
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

  virtual void AskThen(std::string_view title, std::string_view text, bool defaultYes,
                       std::function<void(bool yes)> then) {
    const bool yes = Ask(title, text, defaultYes);
    if (then) then(yes);
  }
  virtual void LockedFilePromptThen(const LockedFilePromptRequest& request,
                                    std::function<void(LockedFilePromptResult result)> then) {
    const LockedFilePromptResult result =
        LockedFilePrompt(request.taskNumber, request.file, request.defaultAction, request.timeoutSeconds);
    if (then) then(result);
  }
  virtual void OfferShutdownThen(int what, int timeoutSeconds, std::function<void(bool goAhead)> then) {
    const bool goAhead = OfferShutdown(what, timeoutSeconds);
    if (then) then(goAhead);
  }
};

std::unique_ptr<UserInterface> MakeHeadlessUserInterface();

UserInterface& CurrentUserInterface();
void SetCurrentUserInterface(UserInterface* ui);

}  // namespace zentrove::core
