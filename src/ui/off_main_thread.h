#pragma once

#include <QPointer>
#include <atomic>
#include <memory>
#include <thread>
#include <type_traits>
#include <utility>

#include "base/main_thread.h"

namespace zentrove::ui {

// The answers of RunOffMainThread not yet handed over; whoever takes away what the threads use (a
// test its sandbox) waits for none to be left.
inline std::atomic<int> g_answersToCome{0};
[[nodiscard]] inline int AnswersToCome() {
  return g_answersToCome.load();
}

// Runs `work` on a thread of its own and hands its answer to `deliver` on the main thread, together
// with `receiver`, unless the receiver was destroyed meanwhile; then the answer is dropped. `work`
// must own copies of all it reads, as the widget may close long before it ends, and `deliver` must
// reach the widget only through the reference it is given. Where the process has no main thread
// nothing could carry the answer back, so the work runs at once on the calling thread.
template <typename Receiver, typename Work, typename Deliver>
void RunOffMainThread(Receiver* receiver, Work work, Deliver deliver) {
  using Answer = std::invoke_result_t<Work&>;
  if (base::CurrentMainThread() == nullptr) {
    Answer answer = work();
    deliver(*receiver, std::move(answer));
    return;
  }
  QPointer<Receiver> live(receiver);
  ++g_answersToCome;
  std::thread([live, work = std::move(work), deliver = std::move(deliver)]() mutable {
    auto answer = std::make_shared<Answer>(work());
    base::RunOnMainThread([live, answer, deliver = std::move(deliver)]() mutable {
      --g_answersToCome;
      if (!live.isNull()) deliver(*live, std::move(*answer));
    });
  }).detach();
}

}  // namespace zentrove::ui
