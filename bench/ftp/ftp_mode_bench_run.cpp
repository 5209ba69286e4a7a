// Mirrors a folder the way a run of the "Upload to FTP" mode does: `ftp_mode_bench_run FOLDER PORT`
// sends the files below FOLDER to 127.0.0.1:PORT (user "tester", password "secret") into the remote
// folder "Mirror", updating what is there, and prints the seconds it took and the files it sent.

#include <chrono>
#include <clocale>
#include <cstdio>
#include <string>

#include "core/options.h"
#include "core/task_record.h"
#include "engine/run_context.h"
#include "transfer/ftp_mode.h"

int main(int argc, char** argv) {
  using namespace zentrove;
  if (argc != 3) {
    std::fprintf(stderr, "usage: ftp_mode_bench_run FOLDER PORT\n");
    return 2;
  }
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  core::ProgramOptions options;
  options.WriteToEventLog = false;
  core::SetCurrentOptions(options);
  core::TArhRecord task;
  task.TaskNumber = 1;
  task.ArchiveOrCopy = 2;
  task.HostTxt = "127.0.0.1";
  task.PortTxt = argv[2];
  task.UserTxt = "tester";
  task.PassTxt = "secret";
  task.FTPPassive = true;
  task.FileMsk5_Prefix = "Mirror";
  task.FileMsk5_ArhDateFormat = "";
  task.FileSourceMask = std::string(argv[1]) + "/*";
  task.ProcessSubfolders = true;
  task.SavePath = true;
  task.StoreFullPathOnCopy = false;
  engine::RunContext run(task);
  run.ZipName = "Mirror";
  run.Action = engine::ZipAction::Update;
  const auto start = std::chrono::steady_clock::now();
  const engine::StepResult result = transfer::FtpModeStep(run, transfer::FtpUploadOptions{});
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (!result.s) {
    std::fprintf(stderr, "upload failed: %s\n", run.ErrorText.c_str());
    return 1;
  }
  std::printf("%.3f %d\n", took.count(), result.r);
  return 0;
}
