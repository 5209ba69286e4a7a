#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>

namespace zentrove::testing {

inline std::string HelperProgram() {
  return std::string(ZENTROVE_TEST_PROGRAMS_DIR) + "/platform_helper";
}

// Sets an environment variable for the life of the guard and restores the old value afterwards.
class EnvGuard {
 public:
  EnvGuard(const char* name, const std::optional<std::string>& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~EnvGuard() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  EnvGuard(const EnvGuard&) = delete;
  EnvGuard& operator=(const EnvGuard&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

inline constexpr uid_t kNobody = 65534;

// Runs `body` in a forked child; as root the child first becomes the unprivileged user "nobody", so
// that permission checks apply. The child's exit code is body's result (0 = success).
inline int RunInChild(const std::function<int()>& body, bool unprivileged) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (unprivileged && geteuid() == 0) {
      if (setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(90);
    }
    _exit(body());
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

}  // namespace zentrove::testing
