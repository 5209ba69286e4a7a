// The command line of the program with the copy mode's steps registered, for the copy benchmark
// while the program itself does not register them yet: `copy_bench_run run N` is `zentrove run N`.
// It also times a rotation: `copy_bench_run rotate FOLDER PREFIX DEPTH` deletes all but the DEPTH
// newest entries FOLDER/PREFIX* and prints the seconds it took.

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/cli.h"
#include "core/options.h"
#include "engine/copy_mode.h"
#include "engine/destinations.h"
#include "engine/run_environment.h"
#include "engine/run_once.h"

int main(int argc, char** argv) {
  using namespace zentrove;
  std::setlocale(LC_ALL, "");
  std::setlocale(LC_NUMERIC, "C");
  const std::vector<std::string> arguments(argv, argv + argc);
  if (arguments.size() == 5 && arguments[1] == "rotate") {
    core::ProgramOptions options;
    options.DeleteinRecucledBin = false;
    options.WriteToEventLog = false;
    core::SetCurrentOptions(options);
    const auto start = std::chrono::steady_clock::now();
    engine::RotateOldBackups(arguments[2], arguments[3], "", "",
                             arguments[2] + "/" + arguments[3] + "-newest", 1, 0,
                             std::atoi(arguments[4].c_str()));
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    std::printf("%.3f\n", took.count());
    return 0;
  }
  engine::RunEnvironment environment;
  engine::RegisterCopyAndDestinationSteps(environment);
  app::CliServices services;
  services.RunTaskOnce = [&environment](core::TArhList& list, int taskNumber) {
    return engine::RunTaskOnce(environment, list, taskNumber);
  };
  return app::RunCli(arguments, std::cout, std::cerr, services);
}
