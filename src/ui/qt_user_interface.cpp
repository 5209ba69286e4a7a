#include "ui/qt_user_interface.h"

#include <QApplication>
#include <QTimer>
#include <memory>

namespace zentrove::ui {
namespace {

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QMessageBox::Icon IconOf(core::MessageIcon icon) {
  switch (icon) {
    case core::MessageIcon::Error:
      return QMessageBox::Critical;
    case core::MessageIcon::Warning:
      return QMessageBox::Warning;
    default:
      return QMessageBox::Information;
  }
}

QMessageBox* MakeBox(QMessageBox::Icon icon, std::string_view title, const QString& text,
                     QMessageBox::StandardButtons buttons) {
  auto* box = new QMessageBox(icon, Text(title), text, buttons);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::ApplicationModal);
  box->setWindowFlag(Qt::WindowStaysOnTopHint);
  return box;
}

int LockedFileAnswerOf(QMessageBox::StandardButton button) {
  using core::LockedFileAnswer;
  switch (button) {
    case QMessageBox::Abort:
      return static_cast<int>(LockedFileAnswer::Abort);
    case QMessageBox::Retry:
      return static_cast<int>(LockedFileAnswer::Retry);
    case QMessageBox::Yes:
      return static_cast<int>(LockedFileAnswer::Yes);
    case QMessageBox::No:
      return static_cast<int>(LockedFileAnswer::No);
    case QMessageBox::NoToAll:
      return static_cast<int>(LockedFileAnswer::NoToAll);
    case QMessageBox::YesToAll:
      return static_cast<int>(LockedFileAnswer::YesToAll);
    default:
      return 0;
  }
}

// What a box answered: the button, or the time-out.
struct Outcome {
  QMessageBox::StandardButton button = QMessageBox::NoButton;
  bool timedOut = false;
};

// Closes the box after `timeout` unless it was answered; `onFinished` gets the outcome once.
void WatchBox(QMessageBox* box, std::chrono::milliseconds timeout, std::function<void(Outcome)> onFinished) {
  auto outcome = std::make_shared<Outcome>();
  if (timeout.count() > 0) {
    auto* timer = new QTimer(box);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, box, [box, outcome] {
      outcome->timedOut = true;
      box->done(QMessageBox::NoButton);
    });
    timer->start(timeout);
  }
  QObject::connect(box, &QMessageBox::finished, box, [box, outcome, onFinished = std::move(onFinished)] {
    if (!outcome->timedOut) outcome->button = box->standardButton(box->clickedButton());
    onFinished(*outcome);
  });
}

QMessageBox* LockedFileBox(std::string_view file) {
  const QString text =
      "Attention: The File " + Text(file) +
      " is locked by another application\nArchive it anyway\n(this window will be closed in 30 "
      "seconds)";
  return MakeBox(QMessageBox::Critical, "Zentrove", text,
                 QMessageBox::Yes | QMessageBox::No | QMessageBox::Abort | QMessageBox::Retry |
                     QMessageBox::NoToAll | QMessageBox::YesToAll);
}

}  // namespace

QString ShutdownOfferText(int what) {
  switch (what) {
    case 2:
      return "Computer will reboot in 30 seconds";
    case 3:
      return "Computer will logoff in 30 seconds";
    default:
      return "Computer will shutdown in 30 seconds";
  }
}

QtUserInterface::QtUserInterface(std::function<void()> showMainWindow)
    : showMainWindow_(std::move(showMainWindow)) {}

QMessageBox* QtUserInterface::Track(QMessageBox* box) {
  std::erase_if(open_, [](const QPointer<QMessageBox>& open) { return open.isNull(); });
  open_.emplace_back(box);
  return box;
}

std::vector<QMessageBox*> QtUserInterface::OpenPrompts() const {
  std::vector<QMessageBox*> prompts;
  for (const QPointer<QMessageBox>& box : open_) {
    if (!box.isNull() && box->isVisible()) prompts.push_back(box.data());
  }
  return prompts;
}

void QtUserInterface::ShowMessage(std::string_view title, std::string_view text, core::MessageIcon icon) {
  QMessageBox* box = Track(MakeBox(IconOf(icon), title, Text(text), QMessageBox::Ok));
  box->setAttribute(Qt::WA_DeleteOnClose, false);
  box->exec();
  delete box;
}

bool QtUserInterface::Ask(std::string_view title, std::string_view text, bool) {
  QMessageBox* box =
      Track(MakeBox(QMessageBox::Question, title, Text(text), QMessageBox::Yes | QMessageBox::No));
  box->setAttribute(Qt::WA_DeleteOnClose, false);
  const bool yes = box->exec() == QMessageBox::Yes;
  delete box;
  return yes;
}

core::LockedFilePromptResult QtUserInterface::LockedFilePrompt(int taskNumber, std::string_view file,
                                                               int defaultAction, int timeoutSeconds) {
  core::LockedFilePromptRequest request;
  request.taskNumber = taskNumber;
  request.file = std::string(file);
  request.defaultAction = defaultAction;
  request.timeoutSeconds = timeoutSeconds;
  std::optional<core::LockedFilePromptResult> answer;
  QEventLoop loop;
  LockedFilePromptThen(request, [&](core::LockedFilePromptResult result) {
    answer = result;
    loop.quit();
  });
  if (!answer) loop.exec();
  return *answer;
}

bool QtUserInterface::OfferShutdown(int what, int timeoutSeconds) {
  std::optional<bool> answer;
  QEventLoop loop;
  OfferShutdownThen(what, timeoutSeconds, [&](bool goAhead) {
    answer = goAhead;
    loop.quit();
  });
  if (!answer) loop.exec();
  return *answer;
}

void QtUserInterface::ShowMainWindow() {
  if (showMainWindow_) showMainWindow_();
}

void QtUserInterface::AskThen(std::string_view title, std::string_view text, bool,
                              std::function<void(bool)> then) {
  QMessageBox* box =
      Track(MakeBox(QMessageBox::Question, title, Text(text), QMessageBox::Yes | QMessageBox::No));
  WatchBox(box, std::chrono::milliseconds(0), [then = std::move(then)](Outcome outcome) {
    if (then) then(outcome.button == QMessageBox::Yes);
  });
  box->show();
}

void QtUserInterface::LockedFilePromptThen(const core::LockedFilePromptRequest& request,
                                           std::function<void(core::LockedFilePromptResult)> then) {
  QMessageBox* box = Track(LockedFileBox(request.file));
  const int defaultAction = request.defaultAction;
  WatchBox(box, TimeOut(request.timeoutSeconds), [defaultAction, then = std::move(then)](Outcome outcome) {
    core::LockedFilePromptResult result;
    result.timedOut = outcome.timedOut;
    result.answer = outcome.timedOut ? defaultAction : LockedFileAnswerOf(outcome.button);
    if (then) then(result);
  });
  if (request.abandoned) {
    // The run was stopped: it waits no more, so the question goes away.
    auto* watch = new QTimer(box);
    QObject::connect(watch, &QTimer::timeout, box, [box, abandoned = request.abandoned] {
      if (abandoned()) box->done(QMessageBox::Cancel);
    });
    watch->start(100);
  }
  box->show();
}

void QtUserInterface::OfferShutdownThen(int what, int timeoutSeconds, std::function<void(bool)> then) {
  QMessageBox* box =
      Track(MakeBox(QMessageBox::Warning, "Zentrove", ShutdownOfferText(what), QMessageBox::Cancel));
  WatchBox(box, TimeOut(timeoutSeconds), [then = std::move(then)](Outcome outcome) {
    // Only the time-out goes ahead; the one button cancels.
    if (then) then(outcome.timedOut);
  });
  box->show();
}

}  // namespace zentrove::ui
