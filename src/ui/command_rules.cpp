#include "ui/command_rules.h"

namespace zentrove::ui {
namespace {

constexpr std::array<CommandText, kCommandCount> kTexts = {{
    {Command::AAddTask, "New ", "New Task", "Ctrl+N"},
    {Command::ChangeTask, "Edit", "Edit the Task", "Return"},
    {Command::DeleteTask, "Delete", "Delete the Task", "Ctrl+Del"},
    {Command::CopyTask, "Duplicate The Task", "Duplicate the Task", "F5"},
    {Command::ExecuteTask, "Execute", "Execute the Task", "Ctrl+E"},
    {Command::ChainExecute, "Execute the batch", "Execute the task and all tasks which refer to it",
     "Ctrl+Alt+E"},
    {Command::StopTask, "Abort", "Abort task execution", "Ctrl+S"},
    {Command::PauseTask, "Pause", "Suspend Task Execution", "Ctrl+P"},
    {Command::ExecuteAll, "Execute all Tasks", "", "Ctrl+Alt+A"},
    {Command::ExecuteAllActive, "Execute all active Tasks", "", "Ctrl+Alt+B"},
    {Command::ExecuteAllNoActive, "Execute all inactive Tasks", "", "Ctrl+Alt+U"},
    {Command::OpenDirect, "View archive Folder", "View Primary Archive Folder", "Ctrl+D"},
    {Command::OpenSourceDir, "View Source Folders", "", "Ctrl+I"},
    {Command::TaskOption, "Options...", "Preferences ", "Ctrl+O"},
    {Command::ExtArhAction, "Edit Configurations of External Archivers", "", "Ctrl+W"},
    {Command::ALog, "View Log File", "View Log File", "Ctrl+L"},
    {Command::ALogCur, "Log for the current task", "View Log File", "Ctrl+K"},
    {Command::ZTHelp, "Help...", "Help", ""},
    {Command::R_Tips, "Tip Of The Day", "", "Ctrl+T"},
    {Command::OnlineSupport, "Online Support", "", ""},
    {Command::ZTAbout, "About...", "About", "Alt+F1"},
    {Command::ShowList, "Show the Tasks", "Show the task list", ""},
    {Command::ExitAction, "Exit", "", "Ctrl+Q"},
}};

}  // namespace

const CommandText& TextOf(Command command) {
  return kTexts[static_cast<std::size_t>(command)];
}

bool CommandEnabled(Command command, const CommandState& state) {
  const bool listed = state.taskCount > 0 && state.current != nullptr;
  const core::TArhRecord* task = state.current;
  const bool started = listed && task->IsStarted;
  switch (command) {
    case Command::AAddTask:
      return !state.dialogOpen;
    case Command::ChangeTask:
    case Command::DeleteTask:
      return listed && !started;
    case Command::CopyTask:
      return listed && !started && !state.dialogOpen;
    case Command::ExecuteTask:
    case Command::ChainExecute:
      return listed && (!started || task->PauseTask);
    case Command::StopTask:
      return started && task->UseInnerZip;
    case Command::PauseTask:
      return started && !task->PauseTask && task->UseInnerZip;
    case Command::ExecuteAll:
    case Command::ExecuteAllActive:
    case Command::ExecuteAllNoActive:
    case Command::OpenDirect:
    case Command::OpenSourceDir:
    case Command::ALogCur:
      return state.taskCount > 0;
    case Command::ShowList:
      return state.windowHidden;
    default:
      return true;
  }
}

}  // namespace zentrove::ui
