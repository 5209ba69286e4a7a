// Measures the ZIP writer against Info-ZIP's `zip -r -6` and 7-Zip's ZIP writer (`7z a -tzip -mx=5
// -mmt=2`, with and without AES-256) on the same files: wall time, archive size and peak memory with
// the bytes it comes to per file, each run in a child process of its own. See README.md for the
// targets.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/zip/zip_reader.h"
#include "engine/zip/zip_writer.h"

namespace {

namespace fs = std::filesystem;
using zentrove::engine::zip::EncryptStrength;
using zentrove::engine::zip::ZipSettings;
using zentrove::engine::zip::ZipSource;
using zentrove::engine::zip::ZipWriter;

struct Options {
  std::string data;
  double scale = 1.0;
  int runs = 3;
  unsigned threads = 0;
  bool memoryCheck = false;
  bool keep = false;
};

// Text from a Zipf-distributed vocabulary, log lines, numeric records and noise, so that deflate
// meets roughly what a backup holds.
class DataMaker {
 public:
  explicit DataMaker(uint32_t seed) : random_(seed) {
    std::uniform_int_distribution<int> length(2, 11);
    std::uniform_int_distribution<int> letter('a', 'z');
    double total = 0;
    for (int i = 0; i < 4000; ++i) {
      std::string word;
      for (int n = length(random_); n > 0; --n)
        word.push_back(static_cast<char>(letter(random_)));
      words_.push_back(word);
      total += 1.0 / (i + 1);
      cumulative_.push_back(total);
    }
    for (auto& c : cumulative_)
      c /= total;
  }

  std::string Text(std::size_t size) {
    std::string out;
    std::uniform_real_distribution<double> pick(0, 1);
    std::size_t line = 0;
    while (out.size() < size) {
      const auto at = std::lower_bound(cumulative_.begin(), cumulative_.end(), pick(random_));
      const std::string& word = words_[std::min<std::size_t>(at - cumulative_.begin(), words_.size() - 1)];
      out += word;
      line += word.size() + 1;
      if (random_() % 12 == 0) out.push_back(random_() % 2 ? '.' : ',');
      if (line > 72) {
        out.push_back('\n');
        line = 0;
      } else {
        out.push_back(' ');
      }
    }
    out.resize(size);
    return out;
  }

  std::string Log(std::size_t size) {
    static const char* const kLevels[] = {"INFO", "WARN", "DEBUG", "ERROR"};
    std::string out;
    long stamp = 1700000000;
    char line[256];
    while (out.size() < size) {
      stamp += random_() % 5;
      const int n = std::snprintf(line, sizeof(line), "%ld.%03u [%s] worker-%u request %u took %u ms: %s\n",
                                  stamp, static_cast<unsigned>(random_() % 1000), kLevels[random_() % 4],
                                  static_cast<unsigned>(random_() % 16), static_cast<unsigned>(random_()),
                                  static_cast<unsigned>(random_() % 900), Text(20 + random_() % 40).c_str());
      out.append(line, static_cast<std::size_t>(std::max(n, 0)));
    }
    out.resize(size);
    return out;
  }

  std::string Records(std::size_t size) {
    std::string out;
    uint32_t id = 0;
    double value = 100;
    std::normal_distribution<double> step(0, 0.5);
    while (out.size() < size) {
      id += 1 + random_() % 3;
      value += step(random_);
      const float rounded = static_cast<float>(std::round(value * 100) / 100);
      const uint16_t flags = static_cast<uint16_t>(random_() % 4);
      out.append(reinterpret_cast<const char*>(&id), sizeof(id));
      out.append(reinterpret_cast<const char*>(&flags), sizeof(flags));
      out.append(reinterpret_cast<const char*>(&rounded), sizeof(rounded));
    }
    out.resize(size);
    return out;
  }

  std::string Noise(std::size_t size) {
    std::string out(size, '\0');
    for (auto& c : out)
      c = static_cast<char>(random_() & 0xFF);
    return out;
  }

  std::string Mixed(std::size_t size) {
    const unsigned kind = random_() % 10;
    if (kind < 5) return Text(size);
    if (kind < 7) return Log(size);
    if (kind < 9) return Records(size);
    return Noise(size);
  }

  std::size_t LogUniform(std::size_t low, std::size_t high) {
    std::uniform_real_distribution<double> pick(std::log(static_cast<double>(low)),
                                                std::log(static_cast<double>(high)));
    return static_cast<std::size_t>(std::exp(pick(random_)));
  }

 private:
  std::mt19937 random_;
  std::vector<std::string> words_;
  std::vector<double> cumulative_;
};

void WriteWhole(const fs::path& path, const std::function<std::string(std::size_t)>& make, std::size_t size) {
  fs::create_directories(path.parent_path());
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) {
    std::perror(path.c_str());
    std::exit(2);
  }
  // Large files are made in pieces, so the maker never holds them whole.
  for (std::size_t done = 0; done < size;) {
    const std::size_t piece = std::min<std::size_t>(size - done, 4 << 20);
    const std::string bytes = make(piece);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    done += piece;
  }
  std::fclose(file);
}

void MakeDataSet(const fs::path& root, double scale) {
  DataMaker maker(20240305);
  const auto count = [&](int n) { return std::max(1, static_cast<int>(n * scale)); };
  for (int i = 0; i < count(2000); ++i) {
    const std::size_t size = maker.LogUniform(1024, 64 * 1024);
    WriteWhole(
        root / ("docs" + std::to_string(i % 20)) / ("file" + std::to_string(i) + ".dat"),
        [&](std::size_t n) { return maker.Mixed(n); }, size);
  }
  for (int i = 0; i < count(120); ++i) {
    const std::size_t size = maker.LogUniform(100 * 1024, 4 * 1024 * 1024);
    WriteWhole(
        root / "media" / ("medium" + std::to_string(i) + ".bin"),
        [&](std::size_t n) { return maker.Mixed(n); }, size);
  }
  const auto big = [&](std::size_t megabytes) { return static_cast<std::size_t>(megabytes * scale) << 20; };
  WriteWhole(
      root / "big" / "book.txt", [&](std::size_t n) { return maker.Text(n); }, big(32));
  WriteWhole(
      root / "big" / "server.log", [&](std::size_t n) { return maker.Log(n); }, big(32));
  WriteWhole(
      root / "big" / "table.db", [&](std::size_t n) { return maker.Records(n); }, big(24));
  WriteWhole(
      root / "big" / "video.mp4", [&](std::size_t n) { return maker.Noise(n); }, big(16));
}

std::vector<ZipSource> Sources(const fs::path& root, uint64_t& bytes) {
  std::vector<ZipSource> sources;
  bytes = 0;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    sources.push_back({entry.path().string(), fs::relative(entry.path(), root).string(), false});
    bytes += entry.file_size();
  }
  std::sort(sources.begin(), sources.end(),
            [](const ZipSource& a, const ZipSource& b) { return a.EntryName < b.EntryName; });
  return sources;
}

struct Measure {
  double seconds = 0;
  double cpuSeconds = 0;  // user and system time of the best run
  long peakKb = 0;
  uint64_t archiveBytes = 0;
  bool ok = false;
};

// Runs the work in a child so that its peak memory is its own; the best of the runs counts.
Measure InChild(const std::string& archive, int runs, const std::function<int()>& work) {
  Measure best;
  for (int run = 0; run < runs; ++run) {
    fs::remove(archive);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) _exit(work());
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok) {
      std::fprintf(stderr, "run failed for %s\n", archive.c_str());
      return best;
    }
    if (run == 0 || seconds < best.seconds) {
      best.seconds = seconds;
      best.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                        static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    }
    best.peakKb = std::max(best.peakKb, usage.ru_maxrss);
    best.ok = true;
  }
  best.archiveBytes = fs::exists(archive) ? fs::file_size(archive) : 0;
  return best;
}

Measure Ours(const std::vector<ZipSource>& sources, const std::string& archive, const Options& options,
             const std::string& password) {
  return InChild(archive, options.runs, [&] {
    ZipSettings settings;
    settings.PackLevel = 6;
    settings.Threads = options.threads;
    settings.Password = password;
    settings.EncryptStrength = EncryptStrength::esAES256;
    const auto result = ZipWriter(settings, {}).Write(archive, sources);
    if (!result.Ok) std::fprintf(stderr, "%s\n", result.ErrorText.c_str());
    return result.Ok ? 0 : 1;
  });
}

Measure InfoZip(const fs::path& root, const std::string& archive, int runs) {
  return InChild(archive, runs, [&] {
    if (chdir(root.c_str()) != 0) return 1;
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execlp("zip", "zip", "-r", "-6", "-q", archive.c_str(), ".", static_cast<char*>(nullptr));
    return 127;
  });
}

// 7-Zip is optional: without it its rows are left out.
Measure SevenZip(const fs::path& root, const std::string& archive, int runs, const std::string& password) {
  return InChild(archive, runs, [&] {
    if (chdir(root.c_str()) != 0) return 1;
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    const std::string secret = "-p" + password;
    if (password.empty()) {
      execlp("7z", "7z", "a", "-tzip", "-mx=5", "-mmt=2", "-bd", archive.c_str(), ".",
             static_cast<char*>(nullptr));
    } else {
      execlp("7z", "7z", "a", "-tzip", "-mx=5", "-mmt=2", "-mem=AES256", secret.c_str(), "-bd",
             archive.c_str(), ".", static_cast<char*>(nullptr));
    }
    return 127;
  });
}

void Report(const char* name, const Measure& m, uint64_t inputBytes) {
  std::printf("%-22s %8.2f s %8.2f s cpu %9.1f MB/s %12llu bytes %8ld KB peak\n", name, m.seconds,
              m.cpuSeconds, static_cast<double>(inputBytes) / 1e6 / std::max(m.seconds, 1e-9),
              static_cast<unsigned long long>(m.archiveBytes), m.peakKb);
}

bool Check(bool pass, const char* what, double value, double limit) {
  std::printf("%-4s %s: %.3f (limit %.3f)\n", pass ? "ok" : "FAIL", what, value, limit);
  return pass;
}

int MemoryCheck(const fs::path& work, const Options& options) {
  // A 5 GiB file (sparse, with data at both ends) must go through without being held in memory.
  const fs::path big = work / "huge.bin";
  {
    const int fd = open(big.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    DataMaker maker(7);
    const std::string head = maker.Text(64 << 20);
    if (fd < 0 || write(fd, head.data(), head.size()) != static_cast<ssize_t>(head.size()) ||
        ftruncate(fd, static_cast<off_t>(5ull << 30)) != 0) {
      std::perror("huge.bin");
      return 2;
    }
    close(fd);
  }
  const std::string archive = (work / "huge.zip").string();
  Options once = options;
  once.runs = 1;
  const Measure m = Ours({{big.string(), "huge.bin", false}}, archive, once, "");
  Report("5 GiB file, level 6", m, 5ull << 30);
  fs::remove(big);
  fs::remove(archive);
  return Check(m.ok && m.peakKb < 200 * 1024, "peak memory MB", m.peakKb / 1024.0, 200) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&] { return i + 1 < argc ? std::string(argv[++i]) : std::string(); };
    if (arg == "--data") {
      options.data = value();
    } else if (arg == "--scale") {
      options.scale = std::atof(value().c_str());
    } else if (arg == "--runs") {
      options.runs = std::max(1, std::atoi(value().c_str()));
    } else if (arg == "--threads") {
      options.threads = static_cast<unsigned>(std::atoi(value().c_str()));
    } else if (arg == "--memory") {
      options.memoryCheck = true;
    } else if (arg == "--keep") {
      options.keep = true;
    } else {
      std::fprintf(
          stderr, "usage: zip_bench [--data DIR] [--scale X] [--runs N] [--threads N] [--memory] [--keep]\n");
      return 2;
    }
  }
  std::string pattern = (fs::temp_directory_path() / "zentrove-zip-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 2;
  }
  const fs::path work = pattern;
  fs::path root = options.data;
  if (root.empty()) {
    root = work / "data";
    std::printf("making the data set in %s ...\n", root.c_str());
    MakeDataSet(root, options.scale);
  }
  uint64_t inputBytes = 0;
  const auto sources = Sources(root, inputBytes);
  std::printf("%zu files, %.1f MB, %u processors, best of %d runs\n", sources.size(), inputBytes / 1e6,
              std::thread::hardware_concurrency(), options.runs);

  bool pass = true;
  const std::string infoZipArchive = (work / "infozip.zip").string();
  const std::string ourArchive = (work / "ours.zip").string();
  const std::string aesArchive = (work / "aes.zip").string();
  const Measure infoZip = InfoZip(root, infoZipArchive, options.runs);
  const Measure ours = Ours(sources, ourArchive, options, "");
  const Measure aes = Ours(sources, aesArchive, options, "benchmark password");
  const Measure seven = SevenZip(root, (work / "7z.zip").string(), options.runs, "");
  const Measure sevenAes = SevenZip(root, (work / "7z-aes.zip").string(), options.runs, "benchmark password");
  Report("zip -r -6", infoZip, inputBytes);
  Report("ours, level 6", ours, inputBytes);
  Report("ours, level 6, AES-256", aes, inputBytes);
  if (seven.ok) Report("7z -tzip -mx=5 -mmt=2", seven, inputBytes);
  if (sevenAes.ok) Report("7z -tzip, AES-256", sevenAes, inputBytes);
  if (!infoZip.ok || !ours.ok || !aes.ok) return 1;

  const auto tested = zentrove::engine::zip::TestArchive(ourArchive, {});
  pass &= Check(tested.Ok, "our archive tests clean (1 = yes)", tested.Ok ? 1 : 0, 1);
  pass &=
      Check(infoZip.seconds / ours.seconds >= 3.5, "speed-up over zip", infoZip.seconds / ours.seconds, 3.5);
  // On a busy machine the wall times say little; the processor time tells what an idle one would show.
  const unsigned cores = std::max(1u, std::min(std::thread::hardware_concurrency(), 16u));
  std::printf("     processor time against zip: %.3f; expected speed-up on %u idle processors: %.2f\n",
              ours.cpuSeconds / infoZip.cpuSeconds, cores, infoZip.cpuSeconds * cores / ours.cpuSeconds);
  pass &= Check(ours.archiveBytes <= infoZip.archiveBytes, "size against zip",
                static_cast<double>(ours.archiveBytes) / infoZip.archiveBytes, 1.0);
  if (seven.ok) {
    std::printf("     against 7z -tzip: speed-up %.2f, size %.4f\n", seven.seconds / ours.seconds,
                static_cast<double>(ours.archiveBytes) / seven.archiveBytes);
  }
  if (sevenAes.ok)
    std::printf("     AES-256 against 7z AES-256: speed-up %.2f\n", sevenAes.seconds / aes.seconds);
  pass &=
      Check(aes.seconds <= 1.1 * ours.seconds, "AES-256 time against plain", aes.seconds / ours.seconds, 1.1);
  pass &= Check(ours.peakKb < 200 * 1024, "peak memory MB", ours.peakKb / 1024.0, 200);
  std::printf("     peak memory per file: %.0f bytes\n",
              ours.peakKb * 1024.0 / std::max<std::size_t>(sources.size(), 1));
  if (options.memoryCheck) pass &= MemoryCheck(work, options) == 0;

  if (!options.keep) {
    std::error_code ignored;
    fs::remove_all(work, ignored);
  } else {
    std::printf("kept %s\n", work.c_str());
  }
  std::printf("%s\n", pass ? "PASS" : "FAIL");
  return pass ? 0 : 1;
}
