#pragma once

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "platform/process.h"
#include "support/sandbox.h"

namespace zentrove::testing {

// Drives the built program in a sandbox of its own: its configuration folder, its runtime folder for
// the instance lock, its own session name, a home without a desktop and the C locale.
class ProgramTest : public SandboxedTest {
 protected:
  void SetUp() override {
    SandboxedTest::SetUp();
    const std::filesystem::path runtime = MakeDir("runtime");
    chmod(runtime.c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    setenv("XDG_SESSION_ID", "sandbox", 1);
    setenv("HOME", MakeDir("home").c_str(), 1);
    setenv("XDG_CONFIG_HOME", MakeDir("home/.config").c_str(), 1);
    setenv("LC_ALL", "C", 1);
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("QT_QPA_PLATFORM");
  }

  void TearDown() override {
    for (platform::Process& process : started_) {
      if (process.IsRunning()) {
        [[maybe_unused]] const auto killed = process.Kill();
        process.WaitFor(std::chrono::seconds(5));
      }
    }
    started_.clear();
    SandboxedTest::TearDown();
  }

  static std::string Program() { return ZENTROVE_PROGRAM; }

  // A copy of the program in a folder of the sandbox, so the program folder is the test's own.
  std::string CopyProgramTo(const std::string& relative) {
    const std::filesystem::path folder = MakeDir(relative);
    const std::filesystem::path copy = folder / "zentrove";
    std::filesystem::copy_file(Program(), copy, std::filesystem::copy_options::overwrite_existing);
    return copy.string();
  }

  platform::CaptureResult RunProgram(const std::vector<std::string>& arguments,
                                     const std::string& program = Program()) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    platform::CaptureOptions options;
    options.timeout = std::chrono::seconds(60);
    auto result = platform::RunAndCapture(argv, options);
    EXPECT_TRUE(result.Ok()) << result.Message();
    return result.Ok() ? *result : platform::CaptureResult{};
  }

  platform::Process& StartProgram(const std::vector<std::string>& arguments,
                                  const std::string& program = Program()) {
    auto process = platform::StartProcess(program, arguments);
    EXPECT_TRUE(process.Ok()) << process.Message();
    started_.push_back(process.Ok() ? std::move(*process) : platform::Process());
    return started_.back();
  }

  // Ends the program as the system does when it shuts down; its exit code, or -1 when it hangs.
  static int StopProgram(platform::Process& process) {
    if (!process.Terminate().Ok()) return -1;
    if (!process.WaitFor(std::chrono::seconds(20))) return -1;
    return process.ExitCode().value_or(-1);
  }

  std::filesystem::path LogPath() const { return ConfigDir() / "Zentrove.log"; }
  std::string Log() const { return ReadFile(LogPath()); }

  static int Count(const std::string& text, const std::string& part) {
    int count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size()))
      ++count;
    return count;
  }

  // Waits until the log holds the text `times` times.
  bool WaitForLog(const std::string& text, int times = 1, const std::filesystem::path& log = {}) const {
    const std::filesystem::path path = log.empty() ? LogPath() : log;
    return WaitFor([&] { return Count(ReadFile(path), text) >= times; }, std::chrono::seconds(20));
  }

  // The lines of a log file, without their CR LF.
  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (auto end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  // A general log line in the C locale: month.day.year, the time unless it is exactly midnight, ": ".
  static bool IsGeneralLine(const std::string& line, const std::string& text) {
    static const std::regex stamp(R"(\d\d\.\d\d\.\d{4}( \d\d:\d\d:\d\d)?: )");
    std::smatch match;
    return std::regex_search(line, match, stamp, std::regex_constants::match_continuous) &&
           line.substr(match.length()) == text;
  }

  // True while the signal waits to be taken by the program, which blocks it in every thread.
  static bool SignalPending(pid_t pid, int signal) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    const unsigned long long bit = 1ULL << (signal - 1);
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("ShdPnd:", 0) == 0 || line.rfind("SigPnd:", 0) == 0) {
        if ((std::stoull(line.substr(7), nullptr, 16) & bit) != 0) return true;
      }
    }
    return false;
  }

 private:
  std::deque<platform::Process> started_;
};

}  // namespace zentrove::testing
