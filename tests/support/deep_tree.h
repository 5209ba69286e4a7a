#pragma once

// Trees deeper than the system's path limit (4096 bytes), made and read by Python through folder
// descriptors, so the tests do not depend on the code they check to build or inspect them.

#include <string>

#include "support/sandbox.h"

namespace zentrove::testing {

// Creates `levels` nested folders below `root` (which exists), each named by `nameLength` copies of
// one letter ("aaa...", "bbb...", ...), and in the deepest one the file `fileName` holding
// `content`. Returns the file's full path, empty on failure.
inline std::string MakeDeepTree(const std::string& root, int levels, int nameLength,
                                const std::string& fileName, const std::string& content) {
  static const char* const kScript =
      "import os, sys\n"
      "root, levels, length, name, content = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], "
      "sys.argv[5]\n"
      "fd = os.open(root, os.O_RDONLY)\n"
      "path = root\n"
      "for i in range(levels):\n"
      "    part = chr(ord('a') + i % 26) * length\n"
      "    os.mkdir(part, dir_fd=fd)\n"
      "    child = os.open(part, os.O_RDONLY, dir_fd=fd)\n"
      "    os.close(fd)\n"
      "    fd, path = child, path + '/' + part\n"
      "out = os.open(name, os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)\n"
      "os.write(out, content.encode())\n"
      "print(path + '/' + name, end='')\n";
  const CommandResult made =
      RunCommand("python3 -c " + ShellQuote(kScript) + " " + ShellQuote(root) + " " + std::to_string(levels) +
                 " " + std::to_string(nameLength) + " " + ShellQuote(fileName) + " " + ShellQuote(content));
  return made.status == 0 ? made.output : std::string();
}

// The contents of the file at a path of any length, opened one folder at a time; "<missing>" when
// any part of it cannot be opened.
inline std::string ReadDeepFile(const std::string& path) {
  static const char* const kScript =
      "import os, sys\n"
      "parts = sys.argv[1].split('/')\n"
      "try:\n"
      "    fd = os.open('/', os.O_RDONLY)\n"
      "    for part in parts[1:-1]:\n"
      "        child = os.open(part, os.O_RDONLY, dir_fd=fd)\n"
      "        os.close(fd)\n"
      "        fd = child\n"
      "    out = os.open(parts[-1], os.O_RDONLY, dir_fd=fd)\n"
      "    print(os.read(out, 1 << 20).decode(), end='')\n"
      "except OSError:\n"
      "    print('<missing>', end='')\n";
  return RunCommand("python3 -c " + ShellQuote(kScript) + " " + ShellQuote(path)).output;
}

}  // namespace zentrove::testing
