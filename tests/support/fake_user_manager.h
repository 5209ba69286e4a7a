#pragma once

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "support/sandbox.h"

namespace zentrove::testing {

// Stand-ins for systemctl and loginctl in a folder that is the whole PATH, so nothing reaches the real
// user manager. Each call is recorded as one line of its arguments. A verb named in FAKE_FAIL (or
// "all", for systemctl) fails with an error text as a missing user manager gives; FAKE_ENABLED,
// FAKE_ACTIVE and FAKE_LINGER are the answers to is-enabled, is-active and the Linger property.
// FAKE_DELAY makes every systemctl call take that many seconds, as a user manager that hangs does.
class FakeUserManager {
 public:
  explicit FakeUserManager(const std::filesystem::path& folder) : folder_(folder) {
    std::filesystem::create_directories(folder_);
    calls_ = folder_ / "calls.log";
    Write("systemctl",
          "[ -n \"$FAKE_DELAY\" ] && command -p sleep \"$FAKE_DELAY\"\n"
          "verb=$2\n"
          "case \" $FAKE_FAIL \" in *\" $verb \"*|*\" all \"*)\n"
          "  echo \"Failed to connect to bus: No medium found\" >&2; exit 1;; esac\n"
          "case \"$verb\" in\n"
          "  is-enabled) echo \"${FAKE_ENABLED:-enabled}\";;\n"
          "  is-active) echo \"${FAKE_ACTIVE:-inactive}\";;\n"
          "esac\n");
    Write("loginctl",
          "verb=$1\n"
          "case \" $FAKE_FAIL \" in *\" $verb \"*)\n"
          "  echo \"Could not enable linger: Access denied\" >&2; exit 1;; esac\n"
          "if [ \"$verb\" = show-user ]; then echo \"${FAKE_LINGER:-yes}\"; fi\n");
  }

  std::string Folder() const { return folder_.string(); }
  void RemoveSystemctl() const { std::filesystem::remove(folder_ / "systemctl"); }

  std::vector<std::string> Calls() const {
    std::vector<std::string> lines;
    std::ifstream in(calls_);
    for (std::string line; std::getline(in, line);)
      lines.push_back(line);
    return lines;
  }
  void ClearCalls() const { std::filesystem::remove(calls_); }

  // The calls an installation makes, in their order.
  static std::vector<std::string> InstallCalls() {
    return {"systemctl --user daemon-reload", "systemctl --user enable Zentrove_Starter.service",
            "loginctl enable-linger " + platform::UserName()};
  }

 private:
  void Write(const std::string& name, const std::string& body) const {
    const std::filesystem::path path = folder_ / name;
    std::ofstream(path) << "#!/bin/sh\necho \"" << name << " $*\" >> " << ShellQuote(calls_.string()) << "\n"
                        << body << "exit 0\n";
    chmod(path.c_str(), 0755);
  }

  std::filesystem::path folder_;
  std::filesystem::path calls_;
};

}  // namespace zentrove::testing
