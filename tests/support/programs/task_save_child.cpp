// Saves the tasks of a task list file over and over until it is killed. After every save that
// returned, it writes one line to standard output: "<task index> <generation>" for a single task, or
// "all <generation>" for the whole file. The generation is the number in each task's description
// ("gen N"), so whoever kills it can tell which saves must have reached the disk.
//
// With a second argument "even" or "odd" it saves only the tasks at even or odd positions, one at a
// time, so that two copies can share the file the way a service and a desktop copy do.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/task_list.h"
#include "log/log.h"

namespace {

void Acknowledge(const std::string& line) {
  const std::string text = line + "\n";
  // One short write on a pipe arrives whole, so the reader never sees half a line.
  if (::write(STDOUT_FILENO, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::_Exit(3);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace zentrove;
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: task_save_child TASKFILE [even|odd]\n");
    return 2;
  }
  const std::string share = argc == 3 ? argv[2] : "";
  const std::string path = argv[1];
  log::SetLogFolder(path.substr(0, path.rfind('/') + 1));

  core::TArhList list(path);
  if (!list.LoadTaskFile(core::NewTaskDefaults{}) || list.Count() == 0) return 1;
  long generation = 0;
  for (int i = 0; i < list.Count(); ++i) {
    const std::string& description = list.Get(i)->Description;
    if (description.rfind("gen ", 0) == 0)
      generation = std::max(generation, std::atol(description.c_str() + 4));
  }

  for (;;) {
    ++generation;
    if (share.empty() && generation % 7 == 0) {
      for (int i = 0; i < list.Count(); ++i)
        list.Get(i)->Description = "gen " + std::to_string(generation);
      if (!list.SaveTaskFile()) return 1;
      Acknowledge("all " + std::to_string(generation));
    } else {
      int index = static_cast<int>(generation % list.Count());
      if (!share.empty()) {
        const int parity = share == "odd" ? 1 : 0;
        const int mine = (list.Count() + 1 - parity) / 2;
        index = static_cast<int>(generation % mine) * 2 + parity;
      }
      core::TArhRecord& task = *list.Get(index);
      task.Description = "gen " + std::to_string(generation);
      task.LastArh = static_cast<double>(generation);
      if (!list.SaveTask(task)) return 1;
      Acknowledge(std::to_string(index) + " " + std::to_string(generation));
    }
  }
}
