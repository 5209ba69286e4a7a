// Uploads one file the way a run does: `ftp_bench_run FILE PORT CONNECTION_TYPE` sends FILE to
// 127.0.0.1:PORT as user "tester" with the password "secret" (CONNECTION_TYPE 0 plain, 2 explicit
// TLS), and prints the seconds it took. The pinned certificates go to $ZENTROVE_CONFIG_DIR.

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/options.h"
#include "core/task_record.h"
#include "transfer/ftp_upload.h"

int main(int argc, char** argv) {
  using namespace zentrove;
  if (argc != 4) {
    std::fprintf(stderr, "usage: ftp_bench_run FILE PORT CONNECTION_TYPE\n");
    return 2;
  }
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  core::ProgramOptions options;
  options.WriteToEventLog = false;
  core::SetCurrentOptions(options);
  transfer::FtpUploadOptions upload;
  upload.retryWait = std::chrono::milliseconds(100);
  core::TArhRecord task;
  task.TaskNumber = 1;
  task.HostTxt = "127.0.0.1";
  task.PortTxt = argv[2];
  task.UserTxt = "tester";
  task.PassTxt = "secret";
  task.FTPPassive = true;
  task.FTPConnectionType = std::atoi(argv[3]);
  task.FileMsk5_Prefix = "Bench";
  task.FileMsk5_ArhDateFormat = "";
  const auto start = std::chrono::steady_clock::now();
  const transfer::FtpUploadResult result = transfer::UploadToFTP(argv[1], task, ".bin", upload);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (!result.ok) {
    std::fprintf(stderr, "upload failed: %s\n", result.error.c_str());
    return 1;
  }
  std::printf("%.3f\n", took.count());
  return 0;
}
