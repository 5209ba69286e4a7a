#include "ui/qt_user_interface.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <atomic>
#include <optional>

#include "core/task_record.h"
#include "ui/ui_test_support.h"

namespace zentrove::ui {
namespace {

using testing::ProcessUntil;

class QtUserInterfaceTest : public ::testing::Test {
 protected:
  // The program's 30-second time-outs last one second here.
  void SetUp() override { ui.SetSecondLength(std::chrono::milliseconds(1000 / 30)); }

  QtUserInterface ui;
};

TEST_F(QtUserInterfaceTest, LockedFilePromptTakesTheDefaultActionAfterItsTimeOut) {
  core::LockedFilePromptRequest request;
  request.taskNumber = 1001;
  request.file = "/data/open.db";
  request.defaultAction = core::kPsSkipLocked;
  std::optional<core::LockedFilePromptResult> result;
  ui.LockedFilePromptThen(request, [&](core::LockedFilePromptResult answer) { result = answer; });
  // The call returns at once; the prompt waits without a loop of its own.
  ASSERT_FALSE(result);
  ASSERT_EQ(ui.OpenPrompts().size(), 1u);
  EXPECT_TRUE(ui.OpenPrompts()[0]->text().startsWith("Attention: The File /data/open.db is locked"));
  ASSERT_TRUE(ProcessUntil([&] { return result.has_value(); }));
  EXPECT_TRUE(result->timedOut);
  EXPECT_EQ(result->answer, core::kPsSkipLocked);
  EXPECT_TRUE(ProcessUntil([&] { return ui.OpenPrompts().empty(); }));
}

TEST_F(QtUserInterfaceTest, LockedFilePromptAnswersWithTheButtonsValue) {
  std::optional<core::LockedFilePromptResult> result;
  core::LockedFilePromptRequest request;
  request.defaultAction = core::kPsAbortTask;
  ui.LockedFilePromptThen(request, [&](core::LockedFilePromptResult answer) { result = answer; });
  QMessageBox* box = ui.OpenPrompts().at(0);
  box->button(QMessageBox::YesToAll)->click();
  ASSERT_TRUE(ProcessUntil([&] { return result.has_value(); }));
  EXPECT_FALSE(result->timedOut);
  EXPECT_EQ(result->answer, static_cast<int>(core::LockedFileAnswer::YesToAll));
}

TEST_F(QtUserInterfaceTest, LockedFilePromptClosesItselfWhenItsRunStops) {
  std::atomic<bool> stopped{false};
  bool answered = false;
  core::LockedFilePromptRequest request;
  request.timeoutSeconds = 3000;
  request.abandoned = [&] { return stopped.load(); };
  ui.LockedFilePromptThen(request, [&](core::LockedFilePromptResult) { answered = true; });
  ASSERT_EQ(ui.OpenPrompts().size(), 1u);
  stopped = true;
  EXPECT_TRUE(ProcessUntil([&] { return ui.OpenPrompts().empty(); }, 1000));
  EXPECT_TRUE(answered);
}

TEST_F(QtUserInterfaceTest, ShutdownOfferGoesAheadOnlyAfterItsTimeOut) {
  std::optional<bool> goAhead;
  ui.OfferShutdownThen(2, 30, [&](bool answer) { goAhead = answer; });
  EXPECT_EQ(ui.OpenPrompts().at(0)->text(), "Computer will reboot in 30 seconds");
  ASSERT_TRUE(ProcessUntil([&] { return goAhead.has_value(); }));
  EXPECT_TRUE(*goAhead);

  goAhead.reset();
  ui.OfferShutdownThen(1, 30, [&](bool answer) { goAhead = answer; });
  ui.OpenPrompts().at(0)->button(QMessageBox::Cancel)->click();
  ASSERT_TRUE(ProcessUntil([&] { return goAhead.has_value(); }));
  EXPECT_FALSE(*goAhead);
}

}  // namespace
}  // namespace zentrove::ui
