#pragma once

#include <string>

#include "base/datetime.h"
#include "scheduler/dispatcher.h"

namespace zentrove::transfer {

// The notification window of the before-run notice, as the desktop program shows it: the caption
// ("Zentrove notification" and the time of the notice), the text, and the moment it closes itself
// (the task's next run). The headless program has no window and ignores it.
class TNotifyModel {
 public:
  explicit TNotifyModel(const scheduler::NotificationWindowRequest& request)
      : caption_(request.caption), text_(request.text), closeAt_(request.closeAt) {}

  const std::string& Caption() const { return caption_; }
  const std::string& Text() const { return text_; }
  base::TDateTime CloseAt() const { return closeAt_; }
  // Asked by the window's timer every second.
  bool ShouldClose(base::TDateTime now) const { return now >= closeAt_; }

 private:
  std::string caption_;
  std::string text_;
  base::TDateTime closeAt_ = 0;
};

}  // namespace zentrove::transfer
