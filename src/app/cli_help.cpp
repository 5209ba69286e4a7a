#include <algorithm>
#include <charconv>
#include <ostream>

#include "app/cli.h"
#include "app/cli_commands.h"
#include "core/options.h"
#include "core/task_file_format.h"

namespace zentrove::app {
namespace {

struct CommandHelp {
  std::string_view synopsis;
  std::string_view summary;
};

// The one list of commands: the usage, the manual page and the completion all come from here.
constexpr CommandHelp kCommands[] = {
    {"[service] [localcfg]", "start the scheduler"},
    {"help [keys]", "show the commands, or every task key"},
    {"--version", "show the version"},
    {"list [--json]", "list the tasks, with their state and last result"},
    {"show N [--json]", "show every field of task N, its state, last and next start"},
    {"add [KEY=VALUE...]", "add a task as the wizard proposes it; prints its number"},
    {"set N KEY=VALUE...", "set fields of task N (see help keys)"},
    {"delete N", "delete task N (not while it runs)"},
    {"option [KEY=VALUE...]", "show the program options, or set them"},
    {"smtp-test", "test the e-mail settings of the options"},
    {"service-install", "install the systemd user unit that starts the scheduler at boot"},
    {"service-remove", "disable and delete that unit"},
    {"run N [--quiet]", "run task N once in the foreground; Ctrl-C aborts the run"},
    {"archives N [--json]", "list the backups of task N, newest first"},
    {"verify N [ARCHIVE]", "test the newest backup of task N, or the one named"},
    {"restore N [ARCHIVE] --to FOLDER [--overwrite] [PATTERN...]",
     "restore the newest backup of task N, or the one named, into FOLDER"},
};

constexpr std::string_view kFootnote =
    "The switches service and localcfg may be given with every command.\n"
    "Exit codes: 0 success, 1 failure (a failed run, a damaged backup), 2 wrong arguments or no such "
    "task, 130 run aborted by a signal.\n";

std::string DefaultText(const core::TaskKeyInfo& key, const core::TArhRecord& fresh) {
  std::string value;
  std::string error;
  if (!core::GetTaskField(fresh, key.name, value, error)) return {};
  if (core::IsPasswordKey(key.name)) return {};
  return value;
}

// Roff text: a leading "." or "'" would be a request, a "\" an escape.
std::string Roff(std::string_view text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else {
      out += c;
    }
  }
  if (!out.empty() && (out.front() == '.' || out.front() == '\'')) out.insert(0, "\\&");
  return out;
}

}  // namespace

std::optional<int> ParseTaskNumber(std::string_view text) {
  int value = 0;
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value <= 0) return std::nullopt;
  return value;
}

std::string CliUsage() {
  std::string text = "Usage:\n";
  for (const CommandHelp& command : kCommands) {
    // One line per command, even where a long synopsis pushes its summary out of the column.
    std::string line = "  zentrove " + std::string(command.synopsis);
    line.resize(std::max<std::size_t>(line.size() + 2, 34), ' ');
    text += line + std::string(command.summary) + "\n";
  }
  return text + std::string(kFootnote);
}

int UsageError(std::ostream& err, std::string_view message) {
  err << "zentrove: " << message << "\n\n" << CliUsage();
  return kExitUsage;
}

std::string KeysHelp() {
  const std::unique_ptr<core::TArhRecord> fresh = core::NewTaskRecord(core::CurrentOptions()->TaskDefaults());
  std::string text =
      "Task keys (zentrove set N KEY=VALUE), in file order: KEY  type  [default]  allowed values: meaning\n";
  for (const core::TaskKeyInfo& key : core::TaskKeys()) {
    text += std::string(key.name) + "  " + core::ValueFormText(key);
    const std::string value = DefaultText(key, *fresh);
    text += "  [" + value + "]";
    const std::string allowed = core::AllowedValuesText(key);
    if (!allowed.empty()) text += "  " + allowed;
    text += ": " + std::string(key.meaning) + "\n";
  }
  return text;
}

std::optional<std::string> HelpText(std::string_view topic) {
  if (topic.empty()) return CliUsage();
  if (topic == "keys") return KeysHelp();
  if (topic == "man") return ManPage();
  return std::nullopt;
}

std::string ManPage() {
  std::string page = ".TH ZENTROVE 1 \"\" \"" + std::string(kVersionLine) +
                     "\" \"User Commands\"\n"
                     ".SH NAME\nzentrove \\- backup scheduler\n"
                     ".SH SYNOPSIS\n";
  for (const CommandHelp& command : kCommands)
    page += ".B zentrove\n" + Roff(command.synopsis) + "\n.br\n";
  page += ".SH COMMANDS\n";
  for (const CommandHelp& command : kCommands)
    page += ".TP\n.B " + Roff(command.synopsis) + "\n" + Roff(command.summary) + "\n";
  page += ".SH TASK KEYS\n";
  const std::unique_ptr<core::TArhRecord> fresh = core::NewTaskRecord(core::CurrentOptions()->TaskDefaults());
  for (const core::TaskKeyInfo& key : core::TaskKeys()) {
    page += ".TP\n.B " + Roff(key.name) + "\n" + Roff(core::ValueFormText(key)) + ", default \"" +
            Roff(DefaultText(key, *fresh)) + "\"";
    const std::string allowed = core::AllowedValuesText(key);
    if (!allowed.empty()) page += "; " + Roff(allowed);
    page += ": " + Roff(key.meaning) + "\n";
  }
  page += ".SH EXIT STATUS\n" + Roff(kFootnote.substr(kFootnote.find('\n') + 1));
  page +=
      ".SH FILES\n.TP\n.I $ZENTROVE_CONFIG_DIR\nthe configuration folder, by default "
      "~/.config/Zentrove/, holding ArhTasks.bpd, Zentrove.ini and Zentrove.log\n";
  return page;
}

std::string TaskStateText(const core::TArhRecord& task) {
  if (task.IsStarted) return task.PauseTask ? "paused" : "running";
  if (task.IsEdited) return "being edited";
  return "idle";
}

std::string LastResultText(const core::TArhRecord& task) {
  if (task.WasError) return "failed";
  if (task.LastArh == 0) return "never run";
  return "success";
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (byte < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace zentrove::app
