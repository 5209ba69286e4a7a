#include "engine/locked_file.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "engine/run_fixture.h"

namespace zentrove::engine {
namespace {

using ::testing::ElementsAre;

// Holds a write lock on a file through a descriptor of its own, as another program would.
class WriteLock {
 public:
  enum class Kind { Ofd, Flock };
  WriteLock(const std::string& path, Kind kind) : fd_(open(path.c_str(), O_RDWR | O_CLOEXEC)) {
    EXPECT_GE(fd_, 0);
    if (kind == Kind::Flock) {
      EXPECT_EQ(flock(fd_, LOCK_EX | LOCK_NB), 0);
    } else {
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      EXPECT_EQ(fcntl(fd_, F_OFD_SETLK, &lock), 0);
    }
  }
  ~WriteLock() { Release(); }
  void Release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// Answers the locked-file prompt with a script of answers, on the thread that asks.
class ScriptedPrompt final : public core::UserInterface {
 public:
  explicit ScriptedPrompt(std::vector<int> answers, std::function<void()> onPrompt = {})
      : answers_(std::move(answers)), onPrompt_(std::move(onPrompt)) {}
  bool IsHeadless() const override { return false; }
  void ShowMessage(std::string_view, std::string_view, core::MessageIcon) override {}
  bool Ask(std::string_view, std::string_view, bool defaultYes) override { return defaultYes; }
  core::LockedFilePromptResult LockedFilePrompt(int, std::string_view, int defaultAction, int) override {
    askedOnThread = std::this_thread::get_id();
    if (onPrompt_) onPrompt_();
    if (next_ >= answers_.size()) return {defaultAction, true};
    return {answers_[next_++], false};
  }
  bool OfferShutdown(int, int) override { return false; }
  void ShowMainWindow() override {}

  std::thread::id askedOnThread;

 private:
  std::vector<int> answers_;
  std::size_t next_ = 0;
  std::function<void()> onPrompt_;
};

class LockedFileTest : public zentrove::testing::RunFixture {
 protected:
  void SetUp() override {
    RunFixture::SetUp();
    task_ = &AddTask();
    run_ = std::make_unique<TArhVCLZip>(*task_);
    file_ = WriteFile("src/a.txt", "hello").string();
  }
  void TearDown() override {
    core::SetCurrentUserInterface(nullptr);
    RunFixture::TearDown();
  }
  std::vector<std::string> LoggedLines() {
    log::FlushLog();
    return Lines();
  }
  static std::string ReadAll(const SourceFile& file) {
    char buffer[64];
    const auto n = file.Handle().ReadAt(0, buffer, sizeof buffer);
    return n ? std::string(buffer, *n) : std::string();
  }

  core::TArhRecord* task_ = nullptr;
  std::unique_ptr<TArhVCLZip> run_;
  std::string file_;
};

TEST_F(LockedFileTest, AFreeFileOpensWithItsStateAndNothingIsLogged) {
  const SourceFile file = OpenSourceFile(*run_, file_);
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.Info().size, 5u);
  EXPECT_EQ(ReadAll(file), "hello");
  EXPECT_FALSE(platform::IsLockedByAnotherProcess(file.Handle()));
  EXPECT_THAT(LoggedLines(), ElementsAre());
}

TEST_F(LockedFileTest, WriteLockedFilesTakeTheDefaultActionWithoutADesktop) {
  const std::string second = WriteFile("src/b.txt", "b").string();
  WriteLock lockA(file_, WriteLock::Kind::Ofd);
  WriteLock lockB(second, WriteLock::Kind::Flock);
  task_->PromtShare = true;
  task_->PSDefaultAction = core::kPsSkipLocked;

  EXPECT_FALSE(OpenSourceFile(*run_, file_).IsOpen());
  EXPECT_FALSE(OpenSourceFile(*run_, second).IsOpen());
  EXPECT_THAT(
      LoggedLines(),
      ElementsAre(Line('W', "File " + file_ + " is locked by another application."),
                  "0 W The time is out - DEFAULT ACTION WILL BE EXECUTED",
                  Line('W', "File " + file_ + " is skipped. All locked files will be skipped"),
                  Line('W', "The file " + second + " is open by another application. The file is skipped")));
}

TEST_F(LockedFileTest, ArchiveAllReadsLockedFilesRegardlessOfTheLockForTheRestOfTheRun) {
  const std::string second = WriteFile("src/b.txt", "b").string();
  WriteLock lockA(file_, WriteLock::Kind::Ofd);
  WriteLock lockB(second, WriteLock::Kind::Ofd);
  task_->PromtShare = false;
  task_->PSDefaultAction = core::kPsArchiveAll;

  const SourceFile first = OpenSourceFile(*run_, file_);
  ASSERT_TRUE(first.IsOpen());
  EXPECT_EQ(ReadAll(first), "hello");
  EXPECT_TRUE(run_->ShareAll);
  EXPECT_TRUE(OpenSourceFile(*run_, second).IsOpen());
  EXPECT_THAT(LoggedLines(), ElementsAre(Line('W', "File " + file_ + " is locked by another application."),
                                         Line('W', "DEFAULT ACTION WILL BE EXECUTED"),
                                         Line('W', "All such files will be packed")));
}

TEST_F(LockedFileTest, AbortStopsTheTask) {
  WriteLock lock(file_, WriteLock::Kind::Ofd);
  task_->PromtShare = false;
  task_->PSDefaultAction = core::kPsAbortTask;
  EXPECT_FALSE(OpenSourceFile(*run_, file_).IsOpen());
  EXPECT_TRUE(task_->StopTask);
}

TEST_F(LockedFileTest, AVanishedFileIsSkippedWithoutAPrompt) {
  ScriptedPrompt prompt({});
  core::SetCurrentUserInterface(&prompt);
  const std::string missing = (Sandbox() / "src" / "gone.txt").string();
  EXPECT_FALSE(OpenSourceFile(*run_, missing).IsOpen());
  EXPECT_THAT(LoggedLines(),
              ElementsAre(Line('W', "The file " + missing + " no longer exists. The file is skipped")));
  EXPECT_EQ(prompt.askedOnThread, std::thread::id());
}

TEST_F(LockedFileTest, TheWorkerWaitsForTheAnswerOnTheMainThreadAndRetries) {
  auto lock = std::make_unique<WriteLock>(file_, WriteLock::Kind::Ofd);
  // The user closes the other program, then answers Retry.
  ScriptedPrompt prompt({static_cast<int>(core::LockedFileAnswer::Retry)}, [&lock] { lock->Release(); });
  core::SetCurrentUserInterface(&prompt);
  task_->PromtShare = true;

  std::atomic<bool> opened{false};
  std::thread worker([&] {
    opened = OpenSourceFile(*run_, file_).IsOpen();
    mainThread_->Post([this] { mainThread_->Quit(0); });
  });
  const std::thread::id mainId = std::this_thread::get_id();
  mainThread_->Run();
  worker.join();

  EXPECT_TRUE(opened);
  EXPECT_EQ(prompt.askedOnThread, mainId);
  EXPECT_THAT(LoggedLines(), ElementsAre(Line('W', "File " + file_ + " is locked by another application.")));
}

TEST_F(LockedFileTest, YesReadsThisFileSharedAndTheNextOneAsksAgain) {
  const std::string second = WriteFile("src/b.txt", "b").string();
  WriteLock lockA(file_, WriteLock::Kind::Ofd);
  WriteLock lockB(second, WriteLock::Kind::Ofd);
  ScriptedPrompt prompt(
      {static_cast<int>(core::LockedFileAnswer::Yes), static_cast<int>(core::LockedFileAnswer::No)});
  core::SetCurrentUserInterface(&prompt);
  base::SetCurrentMainThread(nullptr);  // asked on this thread

  EXPECT_TRUE(OpenSourceFile(*run_, file_).IsOpen());
  OnEndZip(*run_, file_);  // the shared mode holds for one file only
  EXPECT_FALSE(OpenSourceFile(*run_, second).IsOpen());
  EXPECT_THAT(LoggedLines(), ElementsAre(Line('W', "File " + file_ + " is locked by another application."),
                                         Line('W', "The file will be packed as shared"),
                                         Line('W', "File " + second + " is locked by another application."),
                                         Line('W', "File " + second + " is skipped.")));
  base::SetCurrentMainThread(mainThread_.get());
}

}  // namespace
}  // namespace zentrove::engine
