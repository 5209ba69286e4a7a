#include "platform/process.h"

#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <thread>
#include <utility>

#include "platform/files.h"

extern char** environ;

namespace zentrove::platform {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n';
}

int PidFdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#else
  (void)pid;
#endif
  return -1;
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawnattr_init(&attributes_);
    posix_spawn_file_actions_init(&actions_);
    // The parent blocks the session-end signals and may ignore SIGPIPE; a child must start with the
    // ordinary mask and dispositions, or it could not be stopped with SIGTERM.
    sigset_t empty;
    sigemptyset(&empty);
    posix_spawnattr_setsigmask(&attributes_, &empty);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGCHLD})
      sigaddset(&defaults, signal);
    posix_spawnattr_setsigdefault(&attributes_, &defaults);
    posix_spawnattr_setflags(&attributes_,
                             POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attributes_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawn_file_actions_t* Actions() { return &actions_; }

  // Returns 0 or the errno of the failed start.
  int Spawn(const std::string& program, const std::vector<std::string>& argv,
            const std::string& workingFolder, pid_t& pid) {
    if (!workingFolder.empty()) {
      const int error = posix_spawn_file_actions_addchdir_np(&actions_, workingFolder.c_str());
      if (error != 0) return error;
    }
    std::vector<char*> words;
    words.reserve(argv.size() + 1);
    for (const auto& word : argv)
      words.push_back(const_cast<char*>(word.c_str()));
    words.push_back(nullptr);
    std::string path = program;
    // The program is found from the parent's current folder, not from the child's working folder.
    if (path.find('/') != std::string::npos && path.front() != '/') {
      char cwd[4096];
      if (getcwd(cwd, sizeof cwd) != nullptr) path = std::string(cwd) + "/" + path;
    }
    if (path.find('/') == std::string::npos) {
      return posix_spawnp(&pid, path.c_str(), &actions_, &attributes_, words.data(), environ);
    }
    return posix_spawn(&pid, path.c_str(), &actions_, &attributes_, words.data(), environ);
  }

 private:
  posix_spawnattr_t attributes_;
  posix_spawn_file_actions_t actions_;
};

Status StartFailure(int error, const std::string& program, const std::string& workingFolder) {
  std::string context = "cannot start " + program;
  if (!workingFolder.empty()) context += " in " + workingFolder;
  return Status::FromErrno(error, context);
}

bool ParseCounter(std::string_view& rest, std::uint64_t& value) {
  while (!rest.empty() && rest.front() == ' ')
    rest.remove_prefix(1);
  if (rest.empty()) return false;
  const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (error != std::errc() || end == rest.data()) return false;
  rest.remove_prefix(static_cast<std::size_t>(end - rest.data()));
  return true;
}

bool ParseCpuLine(std::string_view fields, CpuTimes& times) {
  std::uint64_t values[8] = {};
  int count = 0;
  while (count < 8 && ParseCounter(fields, values[count]))
    ++count;
  if (count < 4) return false;
  times.total = 0;
  for (int i = 0; i < count; ++i)
    times.total += values[i];
  times.idle = values[3] + (count > 4 ? values[4] : 0);
  return true;
}

// The reading end of a pipe that holds all of `bytes` and has no writer left, so the reader sees
// them and then the end of its input. Written before the program starts, the bytes never wait on a
// program that does not read them, and no thread has to feed it.
Result<int> FilledPipe(std::string_view bytes) {
  int ends[2] = {-1, -1};
  if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return Status::FromErrno(errno, "pipe");
  const auto closeBoth = [&ends] {
    close(ends[0]);
    close(ends[1]);
  };
  const int capacity = fcntl(ends[1], F_GETPIPE_SZ);
  if (capacity >= 0 && bytes.size() > static_cast<std::size_t>(capacity) &&
      fcntl(ends[1], F_SETPIPE_SZ, static_cast<int>(std::min<std::size_t>(bytes.size(), INT32_MAX))) < 0) {
    closeBoth();
    return Status::Failure(EFBIG, "the input for the program does not fit a pipe");
  }
  while (!bytes.empty()) {
    const ssize_t n = write(ends[1], bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 && errno != EAGAIN ? errno : EFBIG;
      closeBoth();
      return Status::Failure(error, "the input for the program does not fit a pipe");
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  close(ends[1]);
  // The program reads as usual, waiting for data; only the writing end had to be non-blocking.
  fcntl(ends[0], F_SETFL, fcntl(ends[0], F_GETFL) & ~O_NONBLOCK);
  return ends[0];
}

}  // namespace

Result<std::vector<std::string>> SplitCommandLine(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  std::size_t i = 0;
  auto endWord = [&] {
    if (inWord) words.push_back(std::move(word));
    word.clear();
    inWord = false;
  };
  while (i < text.size()) {
    const char c = text[i];
    if (IsBlank(c)) {
      endWord();
      ++i;
    } else if (c == '\\') {
      if (i + 1 >= text.size()) {
        word += '\\';
        inWord = true;
        ++i;
      } else if (text[i + 1] == '\n') {
        i += 2;
      } else {
        word += text[i + 1];
        inWord = true;
        i += 2;
      }
    } else if (c == '\'') {
      const auto close = text.find('\'', i + 1);
      if (close == std::string_view::npos) {
        return Status::Failure(EINVAL, "The command line has an unterminated ' quote: " + std::string(text));
      }
      word.append(text.substr(i + 1, close - i - 1));
      inWord = true;
      i = close + 1;
    } else if (c == '"') {
      inWord = true;
      ++i;
      bool closed = false;
      while (i < text.size()) {
        const char d = text[i];
        if (d == '"') {
          closed = true;
          ++i;
          break;
        }
        if (d == '\\' && i + 1 < text.size()) {
          const char next = text[i + 1];
          if (next == '"' || next == '\\' || next == '$' || next == '`') {
            word += next;
            i += 2;
            continue;
          }
          if (next == '\n') {
            i += 2;
            continue;
          }
        }
        word += d;
        ++i;
      }
      if (!closed) {
        return Status::Failure(EINVAL, "The command line has an unterminated \" quote: " + std::string(text));
      }
    } else {
      word += c;
      inWord = true;
      ++i;
    }
  }
  endWord();
  return words;
}

Process::Process(pid_t pid) : pid_(pid), pidFd_(PidFdOpen(pid)) {}

Process::~Process() {
  if (pidFd_ >= 0) close(pidFd_);
  if (pid_ > 0 && !exitCode_) {
    // The program may go on running; its exit is still collected so no zombie stays behind.
    const pid_t pid = pid_;
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  }
}

Process::Process(Process&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)),
      pidFd_(std::exchange(other.pidFd_, -1)),
      exitCode_(other.exitCode_) {}

Process& Process::operator=(Process&& other) noexcept {
  if (this != &other) {
    Process discarded(std::move(*this));
    pid_ = std::exchange(other.pid_, -1);
    pidFd_ = std::exchange(other.pidFd_, -1);
    exitCode_ = other.exitCode_;
  }
  return *this;
}

void Process::Collect(int status) {
  exitCode_ = ExitCodeOf(status);
  if (pidFd_ >= 0) close(pidFd_);
  pidFd_ = -1;
}

bool Process::IsRunning() {
  if (pid_ <= 0 || exitCode_) return false;
  int status = 0;
  pid_t result = 0;
  do {
    result = waitpid(pid_, &status, WNOHANG);
  } while (result < 0 && errno == EINTR);
  if (result == 0) return true;
  if (result < 0) {
    exitCode_ = -1;  // collected elsewhere; the code is unknown
    return false;
  }
  Collect(status);
  return false;
}

void Process::Wait() {
  if (pid_ <= 0 || exitCode_) return;
  int status = 0;
  pid_t result = 0;
  do {
    result = waitpid(pid_, &status, 0);
  } while (result < 0 && errno == EINTR);
  if (result < 0) {
    exitCode_ = -1;
    return;
  }
  Collect(status);
}

bool Process::WaitFor(std::chrono::milliseconds timeout) {
  if (timeout.count() < 0) {
    Wait();
    return true;
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (IsRunning()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    const int slice = static_cast<int>(std::min<std::int64_t>(left.count(), 1000000));
    if (pidFd_ >= 0) {
      pollfd p{pidFd_, POLLIN, 0};
      poll(&p, 1, slice);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::min(slice, 5)));
    }
  }
  return true;
}

Status Process::Kill() {
  if (!IsRunning()) return Status::Success();
  if (kill(-pid_, SIGKILL) != 0 && kill(pid_, SIGKILL) != 0 && errno != ESRCH) {
    return Status::FromErrno(errno, "kill " + std::to_string(pid_));
  }
  return Status::Success();
}

Status Process::Terminate() {
  if (!IsRunning()) return Status::Success();
  if (kill(-pid_, SIGTERM) != 0 && kill(pid_, SIGTERM) != 0 && errno != ESRCH) {
    return Status::FromErrno(errno, "kill " + std::to_string(pid_));
  }
  return Status::Success();
}

Result<Process> StartProcess(const std::string& program, const std::vector<std::string>& arguments,
                             const std::string& workingFolder, int showWindow,
                             std::string_view standardInput) {
  (void)showWindow;
  if (program.empty()) return Status::Failure(ENOENT, "cannot start a program without a name");
  SpawnSetup setup;
  int inputEnd = -1;
  if (standardInput.empty()) {
    posix_spawn_file_actions_addopen(setup.Actions(), 0, "/dev/null", O_RDONLY, 0);
  } else {
    auto filled = FilledPipe(standardInput);
    if (!filled) return filled.GetStatus();
    inputEnd = *filled;
    posix_spawn_file_actions_adddup2(setup.Actions(), inputEnd, 0);
  }
  std::vector<std::string> argv;
  argv.reserve(arguments.size() + 1);
  argv.push_back(program);
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  pid_t pid = -1;
  const int error = setup.Spawn(program, argv, workingFolder, pid);
  if (inputEnd >= 0) close(inputEnd);
  if (error != 0) return StartFailure(error, program, workingFolder);
  return Process(pid);
}

Result<CaptureResult> RunAndCapture(const std::vector<std::string>& argv, const CaptureOptions& options) {
  if (argv.empty() || argv.front().empty())
    return Status::Failure(ENOENT, "cannot start a program without a name");
  // Standard input is a socket so that writing to a tool that does not read it yields EPIPE through
  // MSG_NOSIGNAL instead of a SIGPIPE.
  int input[2] = {-1, -1};
  int output[2] = {-1, -1};
  int errors[2] = {-1, -1};
  auto closeAll = [&] {
    for (int* pair : {input, output, errors}) {
      for (int k = 0; k < 2; ++k) {
        if (pair[k] >= 0) close(pair[k]);
        pair[k] = -1;
      }
    }
  };
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, input) != 0 || pipe2(output, O_CLOEXEC) != 0 ||
      pipe2(errors, O_CLOEXEC) != 0) {
    const int error = errno;
    closeAll();
    return Status::FromErrno(error, "pipe");
  }
  SpawnSetup setup;
  posix_spawn_file_actions_adddup2(setup.Actions(), input[1], 0);
  posix_spawn_file_actions_adddup2(setup.Actions(), output[1], 1);
  posix_spawn_file_actions_adddup2(setup.Actions(), errors[1], 2);
  pid_t pid = -1;
  const int spawnError = setup.Spawn(argv.front(), argv, options.workingFolder, pid);
  close(input[1]);
  close(output[1]);
  close(errors[1]);
  input[1] = output[1] = errors[1] = -1;
  if (spawnError != 0) {
    closeAll();
    return StartFailure(spawnError, argv.front(), options.workingFolder);
  }
  Process process(pid);
  for (const int fd : {input[0], output[0], errors[0]})
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);

  CaptureResult result;
  std::string_view pending = options.input;
  if (pending.empty()) {
    close(input[0]);
    input[0] = -1;
  }
  const auto start = std::chrono::steady_clock::now();
  std::optional<std::chrono::steady_clock::time_point> exitedAt;
  int failure = 0;
  while (output[0] >= 0 || errors[0] >= 0) {
    const auto now = std::chrono::steady_clock::now();
    if (options.timeout.count() >= 0 && now - start >= options.timeout) {
      failure = ETIMEDOUT;
      break;
    }
    if (options.shouldStop && options.shouldStop()) {
      failure = ECANCELED;
      break;
    }
    // A tool that left a background child holding its output is done once it has exited.
    if (!exitedAt && !process.IsRunning()) exitedAt = now;
    if (exitedAt && now - *exitedAt > std::chrono::milliseconds(200)) break;

    pollfd fds[3] = {{output[0], POLLIN, 0}, {errors[0], POLLIN, 0}, {input[0], POLLOUT, 0}};
    poll(fds, 3, 100);
    for (int k = 0; k < 2; ++k) {
      int& fd = k == 0 ? output[0] : errors[0];
      std::string& sink = k == 0 ? result.output : result.errors;
      if (fd < 0 || fds[k].revents == 0) continue;
      char buffer[8192];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n > 0) {
        sink.append(buffer, static_cast<std::size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        close(fd);
        fd = -1;
      }
    }
    if (input[0] >= 0 && fds[2].revents != 0) {
      const ssize_t n = send(input[0], pending.data(), pending.size(), MSG_NOSIGNAL);
      if (n > 0) pending.remove_prefix(static_cast<std::size_t>(n));
      if (pending.empty() || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        close(input[0]);
        input[0] = -1;
      }
    }
  }
  closeAll();
  if (failure != 0) {
    [[maybe_unused]] const Status killed = process.Kill();
    process.Wait();
    return Status::Failure(failure, argv.front() + (failure == ETIMEDOUT ? ": timed out" : ": stopped"));
  }
  if (options.timeout.count() >= 0) {
    const auto left = options.timeout - std::chrono::duration_cast<std::chrono::milliseconds>(
                                            std::chrono::steady_clock::now() - start);
    if (!process.WaitFor(std::max(left, std::chrono::milliseconds(0)))) {
      [[maybe_unused]] const Status killed = process.Kill();
      process.Wait();
      return Status::Failure(ETIMEDOUT, argv.front() + ": timed out");
    }
  } else {
    process.Wait();
  }
  result.exitCode = process.ExitCode().value_or(-1);
  return result;
}

Status RunTool(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
  CaptureOptions options;
  options.timeout = timeout;
  const auto result = RunAndCapture(argv, options);
  if (!result) return result.GetStatus();
  if (result->exitCode == 0) return Status::Success();
  std::string message;
  for (const std::string& word : argv)
    message += (message.empty() ? "" : " ") + word;
  message += " failed with exit code " + std::to_string(result->exitCode);
  const std::string& detail = result->errors.empty() ? result->output : result->errors;
  if (!detail.empty()) message += ": " + detail.substr(0, detail.find('\n'));
  return Status::Failure(result->exitCode, message);
}

int CurrentProcessId() {
  return static_cast<int>(getpid());
}

void SetCurrentThreadPriority(int zipPriority) {
  static constexpr int kNice[6] = {19, 19, 10, 0, -5, -10};
  if (zipPriority < 0 || zipPriority > 5) zipPriority = 3;
  const auto tid = static_cast<id_t>(gettid());
  sched_param parameters{};
  if (zipPriority == 0) {
    if (pthread_setschedparam(pthread_self(), SCHED_IDLE, &parameters) == 0) return;
  } else {
    int policy = SCHED_OTHER;
    if (pthread_getschedparam(pthread_self(), &policy, &parameters) == 0 && policy == SCHED_IDLE) {
      sched_param normal{};
      pthread_setschedparam(pthread_self(), SCHED_OTHER, &normal);
    }
  }
  if (setpriority(PRIO_PROCESS, tid, kNice[zipPriority]) != 0) setpriority(PRIO_PROCESS, tid, 0);
}

Result<CpuTimesSample> ParseProcStat(std::string_view text) {
  CpuTimesSample sample;
  bool haveAll = false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.substr(0, 3) != "cpu") continue;
    line.remove_prefix(3);
    CpuTimes times;
    if (!line.empty() && line.front() == ' ') {
      if (ParseCpuLine(line, times)) {
        sample.all = times;
        haveAll = true;
      }
      continue;
    }
    std::uint64_t index = 0;
    if (!ParseCounter(line, index) || !ParseCpuLine(line, times)) continue;
    sample.perCpu.push_back(times);
  }
  if (!haveAll) return Status::Failure(EINVAL, "/proc/stat has no cpu line");
  return sample;
}

Result<CpuTimesSample> ReadCpuTimes() {
  auto text = ReadWholeFile("/proc/stat");
  if (!text) return text.GetStatus();
  return ParseProcStat(*text);
}

std::optional<std::uint64_t> ResidentSetBytes() {
  const auto text = ReadWholeFile("/proc/self/statm");
  if (!text) return std::nullopt;
  std::string_view rest = *text;
  std::uint64_t size = 0;
  std::uint64_t resident = 0;
  if (!ParseCounter(rest, size) || !ParseCounter(rest, resident)) return std::nullopt;
  return resident * static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
}

void TrimMemory() {
  malloc_trim(0);
}

}  // namespace zentrove::platform
