#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

namespace zentrove::testing {

// A test with a temporary folder of its own and a configuration folder inside it, exported as
// ZENTROVE_CONFIG_DIR so nothing the test runs can reach the user's configuration.
class SandboxedTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  const std::filesystem::path& Sandbox() const { return sandbox_; }
  const std::filesystem::path& ConfigDir() const { return configDir_; }
  // The configuration folder as the program spells it: absolute, with a trailing "/".
  std::string ConfigFolderText() const { return configDir_.string() + "/"; }
  std::filesystem::path MakeDir(const std::string& relative);
  std::filesystem::path WriteFile(const std::string& relative, const std::string& content);
  // The program log goes to the configuration folder and never to the system's log.
  void LogIntoSandbox() const;

 private:
  std::filesystem::path sandbox_;
  std::filesystem::path configDir_;
};

std::string ReadFile(const std::filesystem::path& path);

// Polls the predicate until it holds or the timeout passes; true when it held.
bool WaitFor(const std::function<bool()>& predicate,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// Runs a shell command and returns its exit status (-1 when it could not be started) and output.
struct CommandResult {
  int status = -1;
  std::string output;
};
CommandResult RunCommand(const std::string& command);
bool HaveTool(const std::string& name);
std::string ShellQuote(const std::string& text);

}  // namespace zentrove::testing
