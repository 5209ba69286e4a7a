#pragma once

// Helpers of the copy-mode and destination tests: trees compared as maps, files with fixed times, a
// child process that runs one copy so a test can limit or kill it.

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/datetime.h"
#include "platform/files.h"
#include "support/sandbox.h"

extern char** environ;

namespace zentrove::testing {

// What a tree holds, by path below its root: "f:" + contents for a file, "l:" + target for a link,
// "d" for a folder, each with its modification time (folders: none) and permission bits.
struct TreeNode {
  std::string what;
  std::int64_t mtimeNs = 0;
  std::uint32_t mode = 0;
  bool operator==(const TreeNode&) const = default;
};
using Tree = std::map<std::string, TreeNode>;

// The paths where two trees differ, each with what the two hold there, for readable failures.
inline std::vector<std::string> TreeDifferences(const Tree& actual, const Tree& expected) {
  const auto describe = [](const Tree& tree, const std::string& path) -> std::string {
    const auto it = tree.find(path);
    if (it == tree.end()) return "nothing";
    const TreeNode& node = it->second;
    std::string what = node.what.size() > 24 ? node.what.substr(0, 24) + "..." : node.what;
    for (char& c : what) {
      if (static_cast<unsigned char>(c) < 32) c = '?';
    }
    return what + " (" + std::to_string(node.what.size()) + " bytes, mtime " + std::to_string(node.mtimeNs) +
           ", mode " + std::to_string(node.mode) + ")";
  };
  std::vector<std::string> differences;
  Tree all = actual;
  all.insert(expected.begin(), expected.end());
  for (const auto& [path, node] : all) {
    const auto a = actual.find(path);
    const auto e = expected.find(path);
    if (a == actual.end() || e == expected.end() || !(a->second == e->second)) {
      differences.push_back(path + ": " + describe(actual, path) + " instead of " + describe(expected, path));
    }
  }
  return differences;
}

inline Tree ReadTree(const std::filesystem::path& root) {
  Tree tree;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    const std::string relative = it->path().lexically_relative(root).string();
    const platform::FileInfo info = platform::Stat(it->path().string());
    TreeNode node;
    node.mode = info.mode;
    if (info.kind == platform::FileKind::Symlink) {
      node.what = "l:" + std::filesystem::read_symlink(it->path()).string();
      node.mtimeNs = info.mtimeNs;
    } else if (info.kind == platform::FileKind::Folder) {
      node.what = "d";
    } else {
      node.what = "f:" + ReadFile(it->path());
      node.mtimeNs = info.mtimeNs;
    }
    tree[relative] = node;
  }
  return tree;
}

// Names of the tree that a finished copy must not leave behind.
inline std::vector<std::string> ScratchLeftovers(const std::filesystem::path& root) {
  std::vector<std::string> found;
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(root, error);
       it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
    if (it->path().filename().string().find(".~tm") != std::string::npos)
      found.push_back(it->path().string());
  }
  return found;
}

inline std::int64_t Ns(base::TDateTime local) {
  return base::ToUnixNanoseconds(local);
}

inline void SetMtime(const std::filesystem::path& path, base::TDateTime local) {
  ASSERT_TRUE(platform::SetFileTimes(path.string(), Ns(local), platform::kKeepTime).Ok());
}

// `diff -r` as a second opinion on two trees; empty when they are equal.
inline std::string DiffTrees(const std::filesystem::path& a, const std::filesystem::path& b,
                             const std::string& options = "") {
  return RunCommand("diff -r --no-dereference " + options + " " + ShellQuote(a.string()) + " " +
                    ShellQuote(b.string()) + " 2>&1")
      .output;
}

// Runs the named child mode of the test program itself (the disabled test CopyChild.DISABLED_Run)
// with extra environment entries; returns its process id.
inline pid_t SpawnCopyChild(const std::vector<std::pair<std::string, std::string>>& settings) {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry)
    environment.emplace_back(*entry);
  for (const auto& [key, value] : settings)
    environment.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (std::string& entry : environment)
    envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = "/proc/self/exe";
  std::string filter = "--gtest_filter=CopyChild.DISABLED_Run";
  std::string disabled = "--gtest_also_run_disabled_tests";
  std::string quiet = "--gtest_brief=1";
  char* argv[] = {program.data(), filter.data(), disabled.data(), quiet.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  const int started = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return started == 0 ? pid : -1;
}

// The exit status of a child (-1 when it did not exit normally, e.g. when it was killed).
inline int WaitForChild(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace zentrove::testing
