// A small program the platform tests start as a child process. The first argument names what it
// does; files it writes are named by the following arguments.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

namespace {

void WriteText(const char* path, const std::string& text) {
  const std::string temporary = std::string(path) + ".part";
  {
    std::ofstream out(temporary, std::ios::binary);
    out << text;
  }
  // Renamed into place so the test never reads a half-written file.
  std::rename(temporary.c_str(), path);
}

[[noreturn]] void SleepForever() {
  for (;;)
    std::this_thread::sleep_for(std::chrono::seconds(1));
}

int Usage() {
  std::fprintf(stderr,
               "usage: platform_helper exit N | sleep MS | cwd FILE | args FILE ARGS... | "
               "session FILE | signals FILE | stdin FILE | echo | ofd-lock FILE READY | "
               "posix-lock FILE READY | flock FILE READY\n");
  return 64;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string mode = argv[1];
  if (mode == "exit" && argc == 3) return std::atoi(argv[2]);
  if (mode == "sleep" && argc == 3) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
    return 0;
  }
  if (mode == "cwd" && argc == 3) {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd) == nullptr) return 1;
    WriteText(argv[2], cwd);
    return 0;
  }
  if (mode == "args" && argc >= 3) {
    std::string text;
    for (int i = 0; i < argc; ++i) {
      if (i == 2) continue;
      text += argv[i];
      text += '\n';
    }
    WriteText(argv[2], text);
    return 0;
  }
  if (mode == "session" && argc == 3) {
    WriteText(argv[2], std::to_string(getsid(0) == getpid() ? 1 : 0));
    return 0;
  }
  if (mode == "signals" && argc == 3) {
    // Reports whether SIGTERM is blocked and whether SIGPIPE is ignored in the child.
    sigset_t mask;
    sigprocmask(SIG_SETMASK, nullptr, &mask);
    struct sigaction pipe {};
    sigaction(SIGPIPE, nullptr, &pipe);
    WriteText(argv[2], std::string(sigismember(&mask, SIGTERM) ? "blocked" : "open") + " " +
                           (pipe.sa_handler == SIG_IGN ? "ignored" : "default"));
    return 0;
  }
  if (mode == "stdin" && argc == 3) {
    char buffer[16];
    const ssize_t n = read(0, buffer, sizeof buffer);
    WriteText(argv[2], std::to_string(n));
    return 0;
  }
  if (mode == "echo" && argc == 2) {
    char buffer[4096];
    ssize_t n = 0;
    while ((n = read(0, buffer, sizeof buffer)) > 0) {
      if (write(1, buffer, static_cast<std::size_t>(n)) != n) return 1;
    }
    const char note[] = "done\n";
    if (write(2, note, sizeof note - 1) < 0) return 1;
    return 0;
  }
  if ((mode == "ofd-lock" || mode == "posix-lock" || mode == "flock") && argc == 4) {
    const int fd = open(argv[2], O_RDWR);
    if (fd < 0) return 2;
    if (mode == "flock") {
      if (flock(fd, LOCK_EX) != 0) return 3;
    } else {
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      if (fcntl(fd, mode == "ofd-lock" ? F_OFD_SETLK : F_SETLK, &lock) != 0) return 3;
    }
    WriteText(argv[3], "locked");
    SleepForever();
  }
  return Usage();
}
