#pragma once

#include <array>
#include <string_view>

#include "core/task_record.h"

// The main window's commands in plain C++: their captions, hints, shortcuts and enabling rules.
namespace zentrove::ui {

enum class Command : int {
  AAddTask,
  ChangeTask,
  DeleteTask,
  CopyTask,
  ExecuteTask,
  ChainExecute,
  StopTask,
  PauseTask,
  ExecuteAll,
  ExecuteAllActive,
  ExecuteAllNoActive,
  OpenDirect,
  OpenSourceDir,
  TaskOption,
  ExtArhAction,
  ALog,
  ALogCur,
  ZTHelp,
  R_Tips,
  OnlineSupport,
  ZTAbout,
  ShowList,
  ExitAction,
  Count,
};
inline constexpr int kCommandCount = static_cast<int>(Command::Count);

struct CommandText {
  Command id;
  std::string_view caption;
  std::string_view hint;
  // In QKeySequence's portable form; empty: none.
  std::string_view shortcut;
};
const CommandText& TextOf(Command command);

// What the enabling rules look at.
struct CommandState {
  int taskCount = 0;
  const core::TArhRecord* current = nullptr;  // the task of the selected row
  bool dialogOpen = false;
  bool windowHidden = true;
};
bool CommandEnabled(Command command, const CommandState& state);

}  // namespace zentrove::ui
