#include "support/sandbox.h"

#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "log/log.h"

namespace zentrove::testing {

void SandboxedTest::SetUp() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zentrove-test-XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  sandbox_ = pattern;
  configDir_ = sandbox_ / "config";
  std::filesystem::create_directories(configDir_);
  setenv("ZENTROVE_CONFIG_DIR", configDir_.c_str(), 1);
}

void SandboxedTest::TearDown() {
  std::error_code ignored;
  // Tests may leave read-only files or folders behind; make them removable first.
  for (auto it = std::filesystem::recursive_directory_iterator(sandbox_, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (!it->is_symlink(ignored)) {
      std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(sandbox_, ignored);
  // Trees deeper than the system's path limit are beyond remove_all; rm walks them by descriptors.
  if (std::filesystem::exists(sandbox_, ignored)) (void)RunCommand("rm -rf " + ShellQuote(sandbox_.string()));
}

void SandboxedTest::LogIntoSandbox() const {
  log::LogSettings settings;
  settings.WriteToEventLog = false;
  log::SetLogSettings(settings);
  log::SetLogFolder(ConfigFolderText());
}

std::filesystem::path SandboxedTest::MakeDir(const std::string& relative) {
  const auto path = sandbox_ / relative;
  std::filesystem::create_directories(path);
  return path;
}

std::filesystem::path SandboxedTest::WriteFile(const std::string& relative, const std::string& content) {
  const auto path = sandbox_ / relative;
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
  return path;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool WaitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() >= deadline) return predicate();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> buffer{};
  std::size_t n = 0;
  while ((n = fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
    result.output.append(buffer.data(), n);
  const int status = pclose(pipe);
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

bool HaveTool(const std::string& name) {
  return RunCommand("command -v " + ShellQuote(name)).status == 0;
}

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

}  // namespace zentrove::testing
