#pragma once

// Helpers shared by the ZIP tests: source trees, running the writer, and checking archives with
// other ZIP programs. Header-only, since the test folder builds only its *_test.cpp files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "engine/zip/zip_reader.h"
#include "engine/zip/zip_writer.h"
#include "support/sandbox.h"

namespace zentrove::engine::zip::testing {

using zentrove::testing::CommandResult;
using zentrove::testing::ReadFile;
using zentrove::testing::RunCommand;
using zentrove::testing::ShellQuote;

// Deterministic bytes: text-like runs mixed with noise, so deflate has work but wins something.
inline std::string SampleBytes(std::size_t size, uint32_t seed) {
  static const char* const kWords[] = {"backup ", "archive ", "folder ", "schedule ", "zentrove ", "\n",
                                       "copy ",   "entry ",   "12345 ",  "data ",     "file "};
  std::mt19937 random(seed);
  std::string out;
  out.reserve(size + 16);
  while (out.size() < size) {
    if (random() % 8 == 0) {
      for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<char>(random() & 0xFF));
    } else {
      out += kWords[random() % (sizeof(kWords) / sizeof(kWords[0]))];
    }
  }
  out.resize(size);
  return out;
}

inline std::string NoiseBytes(std::size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::string out(size, '\0');
  for (auto& c : out)
    c = static_cast<char>(random() & 0xFF);
  return out;
}

// Files to put into an archive, each with its entry name and content.
struct SourceTree {
  std::vector<ZipSource> Sources;
  std::map<std::string, std::string> Contents;  // entry name -> bytes; folders end with "/" and are ""
};

inline bool HavePeer(const std::string& tool) {
  return zentrove::testing::HaveTool(tool);
}

// Python's zipfile reads every entry and checks its CRC (it knows no AES, so only plain archives).
inline void ExpectPythonZipfileAccepts(const std::string& zip) {
  if (!HavePeer("python3")) return;
  const auto checked = RunCommand(
      "python3 -c 'import sys,zipfile; z=zipfile.ZipFile(sys.argv[1]); "
      "sys.exit(1 if z.testzip() else 0)' " +
      ShellQuote(zip));
  EXPECT_EQ(checked.status, 0) << checked.output.substr(0, 2000);
}

#define ZIP_REQUIRE_PEER(tool)                                           \
  do {                                                                   \
    if (!::zentrove::engine::zip::testing::HavePeer(tool)) {             \
      GTEST_SKIP() << (tool) << " is not installed; the check needs it"; \
    }                                                                    \
  } while (false)

inline std::map<std::string, std::string> ListTree(const std::filesystem::path& folder) {
  std::map<std::string, std::string> found;
  for (auto it = std::filesystem::recursive_directory_iterator(folder);
       it != std::filesystem::recursive_directory_iterator(); ++it) {
    const std::string relative = std::filesystem::relative(it->path(), folder).string();
    if (it->is_directory()) {
      found[relative + "/"] = "";
    } else {
      found[relative] = ReadFile(it->path());
    }
  }
  return found;
}

// Only the files of a tree (peers create the folders of file paths even without folder entries).
inline std::map<std::string, std::string> FilesOnly(const std::map<std::string, std::string>& tree) {
  std::map<std::string, std::string> files;
  for (const auto& [name, content] : tree) {
    if (!name.empty() && name.back() != '/') files[name] = content;
  }
  return files;
}

inline CommandResult ExtractWith7z(const std::string& zipName, const std::string& folder,
                                   const std::string& password) {
  std::filesystem::create_directories(folder);
  return RunCommand("7z x -y -bd " + ShellQuote("-p" + password) + " " + ShellQuote("-o" + folder) + " " +
                    ShellQuote(zipName));
}

inline CommandResult ExtractWithUnzip(const std::string& zipName, const std::string& folder,
                                      const std::string& password) {
  std::filesystem::create_directories(folder);
  std::string command = "unzip -q -o ";
  if (!password.empty()) command += "-P " + ShellQuote(password) + " ";
  return RunCommand(command + ShellQuote(zipName) + " -d " + ShellQuote(folder));
}

// Another process holding a write lock on a file: what "locked by another program" means here.
class WriteLockHolder {
 public:
  enum class Kind { Fcntl, Flock };
  explicit WriteLockHolder(const std::string& path, Kind kind = Kind::Fcntl) {
    int ready[2];
    if (pipe(ready) != 0) return;
    child_ = fork();
    if (child_ == 0) {
      const int fd = open(path.c_str(), O_RDWR);
      struct flock lock {};
      lock.l_type = F_WRLCK;
      lock.l_whence = SEEK_SET;
      const bool held =
          kind == Kind::Flock ? flock(fd, LOCK_EX | LOCK_NB) == 0 : fcntl(fd, F_SETLK, &lock) == 0;
      const char status = fd >= 0 && held ? 1 : 0;
      [[maybe_unused]] const auto written = write(ready[1], &status, 1);
      pause();
      _exit(0);
    }
    char status = 0;
    locked_ = read(ready[0], &status, 1) == 1 && status == 1;
    close(ready[0]);
    close(ready[1]);
  }
  ~WriteLockHolder() {
    if (child_ > 0) {
      kill(child_, SIGKILL);
      waitpid(child_, nullptr, 0);
    }
  }
  WriteLockHolder(const WriteLockHolder&) = delete;
  WriteLockHolder& operator=(const WriteLockHolder&) = delete;
  bool Locked() const { return locked_; }

 private:
  pid_t child_ = -1;
  bool locked_ = false;
};

// Compares two trees (name -> content) without printing contents, which may be megabytes.
inline ::testing::AssertionResult SameTree(const std::map<std::string, std::string>& actual,
                                           const std::map<std::string, std::string>& expected) {
  for (const auto& [name, content] : expected) {
    const auto found = actual.find(name);
    if (found == actual.end()) return ::testing::AssertionFailure() << "missing: " << name;
    if (found->second != content) {
      return ::testing::AssertionFailure() << "content differs: " << name << " (" << found->second.size()
                                           << " bytes, expected " << content.size() << ")";
    }
  }
  for (const auto& [name, content] : actual) {
    if (expected.count(name) == 0) return ::testing::AssertionFailure() << "unexpected: " << name;
  }
  return ::testing::AssertionSuccess();
}

// The tree with the folders that a peer creates on its way to the files added.
inline std::map<std::string, std::string> WithParentFolders(std::map<std::string, std::string> tree) {
  std::vector<std::string> names;
  for (const auto& entry : tree)
    names.push_back(entry.first);
  for (const auto& name : names) {
    for (auto slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1)) {
      tree[name.substr(0, slash + 1)] = "";
    }
  }
  return tree;
}

class ZipTest : public zentrove::testing::SandboxedTest {
 protected:
  ZipSource AddFile(SourceTree& tree, const std::string& entryName, const std::string& content) {
    const auto path = Sandbox() / "src" / ("f" + std::to_string(counter_++));
    WriteFile(std::filesystem::relative(path, Sandbox()).string(), content);
    ZipSource source{path.string(), entryName, false};
    source.SeenSize = content.size();  // as the source walk reports it
    tree.Sources.push_back(source);
    tree.Contents[entryName] = content;
    return source;
  }

  ZipSource AddFolder(SourceTree& tree, const std::string& entryName) {
    const auto path = MakeDir("src/d" + std::to_string(counter_++));
    ZipSource source{path.string(), entryName, true};
    tree.Sources.push_back(source);
    tree.Contents[entryName.back() == '/' ? entryName : entryName + "/"] = "";
    return source;
  }

  std::string ArchivePath(const std::string& name = "out.zip") const { return (Sandbox() / name).string(); }

  static ZipResult WriteZip(const std::string& zipName, const std::vector<ZipSource>& sources,
                            const ZipSettings& settings = {}, const ZipHooks& hooks = {}) {
    ZipWriter writer(settings, hooks);
    return writer.Write(zipName, sources);
  }

  // Every entry read back with our reader: name -> content. Fails the test on a read error.
  static std::map<std::string, std::string> ReadBack(const std::string& zipName,
                                                     const std::string& password = "") {
    std::map<std::string, std::string> contents;
    ZipError error;
    auto reader = ZipReader::Open(zipName, error);
    EXPECT_TRUE(reader) << error.Message;
    if (!reader) return contents;
    for (std::size_t i = 0; i < reader->Entries().size(); ++i) {
      std::string data;
      const ZipError extract = reader->Extract(i, password, [&](const unsigned char* bytes, std::size_t n) {
        data.append(reinterpret_cast<const char*>(bytes), n);
        return true;
      });
      EXPECT_FALSE(extract) << reader->Entries()[i].Name << ": " << extract.Message;
      contents[reader->Entries()[i].Name] = data;
    }
    return contents;
  }

  static std::vector<std::string> EntryNames(const std::string& zipName) {
    std::vector<std::string> names;
    ZipError error;
    auto reader = ZipReader::Open(zipName, error);
    if (!reader) return names;
    for (const auto& entry : reader->Entries())
      names.push_back(entry.Name);
    return names;
  }

 private:
  int counter_ = 0;
};

}  // namespace zentrove::engine::zip::testing
