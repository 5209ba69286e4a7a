#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <sstream>

#include "core/ini_file.h"
#include "core/task_file_format.h"
#include "core/task_list.h"
#include "task_file_test_support.h"

namespace zentrove::core {
namespace {

constexpr int kTasks = 5;

// A child process that saves tasks until it is killed, with its acknowledgements on a pipe.
class SavingChild {
 public:
  explicit SavingChild(const std::string& taskFile, const std::string& share = "") {
    int fds[2];
    if (::pipe(fds) != 0) return;
    const std::string program = std::string(ZENTROVE_TEST_PROGRAMS_DIR) + "/task_save_child";
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], STDOUT_FILENO);
      ::close(fds[0]);
      ::close(fds[1]);
      if (share.empty()) {
        ::execl(program.c_str(), program.c_str(), taskFile.c_str(), static_cast<char*>(nullptr));
      } else {
        ::execl(program.c_str(), program.c_str(), taskFile.c_str(), share.c_str(),
                static_cast<char*>(nullptr));
      }
      ::_exit(127);
    }
    ::close(fds[1]);
    out_ = fds[0];
  }
  ~SavingChild() {
    Kill();
    if (out_ >= 0) ::close(out_);
  }
  SavingChild(const SavingChild&) = delete;
  SavingChild& operator=(const SavingChild&) = delete;

  bool Started() const { return pid_ > 0 && out_ >= 0; }
  // Blocks until the child has acknowledged `count` saves; false when it ended before.
  bool WaitForSaves(std::size_t count = 1) {
    while (static_cast<std::size_t>(std::count(pending_.begin(), pending_.end(), '\n')) < count) {
      if (!ReadSome()) return false;
    }
    return true;
  }
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  // Every whole line the child wrote, after it was killed.
  std::vector<std::string> Lines() {
    while (ReadSome()) {
    }
    std::vector<std::string> lines;
    std::istringstream in(pending_);
    for (std::string line; std::getline(in, line);) {
      if (!in.eof()) lines.push_back(line);
    }
    return lines;
  }

 private:
  bool ReadSome() {
    char buffer[4096];
    const ssize_t n = ::read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending_.append(buffer, static_cast<std::size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

long GenerationOf(const TArhRecord& task) {
  return task.Description.rfind("gen ", 0) == 0 ? std::atol(task.Description.c_str() + 4) : -1;
}

// Raises each task's acknowledged generation by the child's lines.
void Acknowledge(SavingChild& child, std::vector<long>& acknowledged) {
  for (const std::string& line : child.Lines()) {
    std::istringstream fields(line);
    std::string which;
    long generation = 0;
    fields >> which >> generation;
    for (std::size_t i = 0; i < acknowledged.size(); ++i) {
      if (which == "all" || which == std::to_string(i))
        acknowledged[i] = std::max(acknowledged[i], generation);
    }
  }
}

class SaveKillTest : public TaskFileTest {
 protected:
  void WriteTasks(int count, const std::string& sources) {
    TArhList list(TaskFile());
    for (int i = 0; i < count; ++i) {
      auto task = NewTaskRecord();
      task->TaskNumber = 1001 + i;
      task->Description = "gen 0";
      task->FileSourceMask = sources;
      list.ListAppend(std::move(task));
    }
    ASSERT_TRUE(list.SaveTaskFile());
  }
};

// Killing a process at any moment of a save must never cost a task or a save that had returned.
TEST_F(SaveKillTest, KillingTheWriterNeverDamagesTheTaskFile) {
  const std::string sources = std::string(20000, 's') + "\xC3\xA4";
  WriteTasks(kTasks, sources);

  std::vector<long> acknowledged(kTasks, 0);
  std::mt19937 random(20080101);
  std::uniform_int_distribution<int> delayMicroseconds(0, 4000);
  for (int round = 0; round < 60; ++round) {
    SavingChild child(TaskFile());
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.WaitForSaves()) << "the child ended in round " << round;
    ::usleep(static_cast<useconds_t>(delayMicroseconds(random)));
    child.Kill();
    for (const std::string& line : child.Lines()) {
      std::istringstream fields(line);
      std::string which;
      long generation = 0;
      fields >> which >> generation;
      for (int i = 0; i < kTasks; ++i) {
        if (which == "all" || which == std::to_string(i))
          acknowledged[i] = std::max(acknowledged[i], generation);
      }
    }

    TArhList loaded(TaskFile());
    std::string error;
    ASSERT_TRUE(loaded.LoadTaskFile(NewTaskDefaults{}, &error)) << "round " << round << ": " << error;
    ASSERT_EQ(loaded.Count(), kTasks) << "round " << round;
    IniFile raw(TaskFile());
    ASSERT_TRUE(raw.Load());
    for (int i = 0; i < kTasks; ++i) {
      const TArhRecord& task = *loaded.Get(i);
      ASSERT_EQ(task.TaskNumber, 1001 + i);
      EXPECT_GE(GenerationOf(task), acknowledged[i]) << "round " << round << ", task " << task.TaskNumber;
      EXPECT_EQ(task.FileSourceMask, sources);
      EXPECT_EQ(raw.KeyNames(std::to_string(task.TaskNumber)).size(), kSectionKeyCount);
    }
  }
  EXPECT_GT(acknowledged[0], 0);
}

// Two processes that save their own tasks into one file at the same time lose none of each other's
// saves: each re-reads the file under a lock before it replaces it.
TEST_F(SaveKillTest, TwoWritersKeepEachOthersTasks) {
  constexpr int kShared = 6;
  WriteTasks(kShared, "/data/*.*");
  SavingChild even(TaskFile(), "even");
  SavingChild odd(TaskFile(), "odd");
  ASSERT_TRUE(even.Started() && odd.Started());
  ASSERT_TRUE(even.WaitForSaves(60));
  ASSERT_TRUE(odd.WaitForSaves(60));
  even.Kill();
  odd.Kill();
  std::vector<long> acknowledged(kShared, 0);
  Acknowledge(even, acknowledged);
  Acknowledge(odd, acknowledged);

  TArhList loaded(TaskFile());
  ASSERT_TRUE(loaded.LoadTaskFile(NewTaskDefaults{}));
  ASSERT_EQ(loaded.Count(), kShared);
  for (int i = 0; i < kShared; ++i) {
    EXPECT_GT(acknowledged[i], 0) << i;
    EXPECT_GE(GenerationOf(*loaded.Get(i)), acknowledged[i]) << "task " << loaded.Get(i)->TaskNumber;
  }
}

}  // namespace
}  // namespace zentrove::core
