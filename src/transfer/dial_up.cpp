#include "transfer/dial_up.h"

#include <cerrno>
#include <mutex>

#include "log/log.h"
#include "platform/process.h"
#include "transfer/smtp_reply.h"

namespace zentrove::transfer {
namespace {

using log::LogLevel;
using platform::Result;
using platform::Status;

constexpr std::chrono::seconds kListTimeout{20};
constexpr std::chrono::seconds kHangUpTimeout{60};

// Only one dial runs in the whole program at a time.
std::mutex g_dialLock;

Result<std::vector<NetworkConnection>> ListConnections(bool activeOnly) {
  std::vector<std::string> argv{"nmcli", "-t", "-f", "NAME,TYPE", "connection", "show"};
  if (activeOnly) argv.emplace_back("--active");
  platform::CaptureOptions options;
  options.timeout = kListTimeout;
  auto run = platform::RunAndCapture(argv, options);
  if (!run) return run.GetStatus();
  if (run->exitCode != 0) return Status::Failure(EIO, "nmcli: " + PrintableServerText(run->errors));
  std::vector<NetworkConnection> dialUp;
  for (NetworkConnection& connection : ParseNmcliConnections(run->output)) {
    if (IsDialUpKind(connection.type)) dialUp.push_back(std::move(connection));
  }
  return dialUp;
}

// nmcli's own message, or its exit code when it gave none.
std::string NmcliError(const platform::CaptureResult& run) {
  std::string text = run.errors.empty() ? run.output : run.errors;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
    text.pop_back();
  if (const std::size_t end = text.find('\n'); end != std::string::npos) text.resize(end);
  if (text.empty()) return "RAS error no " + std::to_string(run.exitCode);
  return PrintableServerText(text);
}

void Log(LogLevel level, int taskNumber, const std::string& text) {
  log::AddLogLine(level, taskNumber, text);
}

}  // namespace

std::vector<NetworkConnection> ParseNmcliConnections(std::string_view output) {
  std::vector<NetworkConnection> connections;
  std::vector<std::string> fields(1);
  const auto endLine = [&] {
    if (fields.size() >= 2 && !fields[0].empty()) connections.push_back({fields[0], fields[1]});
    fields.assign(1, std::string());
  };
  for (std::size_t i = 0; i < output.size(); ++i) {
    const char c = output[i];
    if (c == '\\' && i + 1 < output.size() && output[i + 1] != '\n') {
      fields.back().push_back(output[++i]);
    } else if (c == ':') {
      fields.emplace_back();
    } else if (c == '\n') {
      endLine();
    } else if (c != '\r') {
      fields.back().push_back(c);
    }
  }
  endLine();
  return connections;
}

bool IsDialUpKind(std::string_view type) {
  return type == "gsm" || type == "cdma" || type == "pppoe" || type == "vpn" || type == "wireguard" ||
         type == "bluetooth";
}

TmsRas::TmsRas() {
  (void)Entries();
}

const std::vector<std::string>& TmsRas::Entries() {
  entries_.clear();
  if (auto connections = ListConnections(false)) {
    for (const NetworkConnection& connection : *connections)
      entries_.push_back(connection.name);
  }
  return entries_;
}

Status TmsRas::SelectEntry(const std::string& name) {
  if (name.empty()) {
    selected_.clear();
    return Status::Success();
  }
  if (entries_.empty()) return Status::Failure(ENOENT, std::string(kNoRasText));
  for (const std::string& entry : entries_) {
    if (entry == name) {
      selected_ = name;
      return Status::Success();
    }
  }
  selected_.clear();
  return Status::Failure(ENOENT, std::string(kInvalidServiceText));
}

Result<bool> TmsRas::FindConnection() {
  if (selected_.empty()) return false;
  auto active = ListConnections(true);
  if (!active) return active.GetStatus();
  for (const NetworkConnection& connection : *active) {
    if (connection.name == selected_) return true;
  }
  return false;
}

Result<bool> TmsRas::Dial(const std::function<bool()>& shouldStop) {
  auto up = FindConnection();
  if (!up) return up.GetStatus();
  if (*up) return true;
  if (selected_.empty()) return false;

  platform::Result<platform::CaptureResult> run = Status::Failure(ECANCELED, std::string(kCanceledText));
  {
    std::lock_guard lock(g_dialLock);
    platform::CaptureOptions options;
    options.timeout = dialTimeout_;
    options.shouldStop = shouldStop;
    run = platform::RunAndCapture({"nmcli", "connection", "up", "id", selected_}, options);
  }
  if (!run) {
    (void)HangUp();
    if (run.Code() == ETIMEDOUT) return Status::Failure(ETIMEDOUT, std::string(kTimedOutText));
    if (run.Code() == ECANCELED) return Status::Failure(ECANCELED, std::string(kCanceledText));
    return run.GetStatus();
  }
  if (run->exitCode != 0) {
    (void)HangUp();
    return Status::Failure(EIO, NmcliError(*run));
  }
  return FindConnection();
}

Status TmsRas::HangUp() {
  if (selected_.empty()) return Status::Success();
  platform::CaptureOptions options;
  options.timeout = kHangUpTimeout;
  auto run = platform::RunAndCapture({"nmcli", "connection", "down", "id", selected_}, options);
  if (!run) return run.GetStatus();
  if (run->exitCode != 0) return Status::Failure(EIO, NmcliError(*run));
  return Status::Success();
}

bool DialUp(core::TArhRecord& task, const std::function<bool()>& programClosing,
            std::chrono::milliseconds timeout) {
  const int number = task.TaskNumber;
  Log(LogLevel::Information, number, "Dialing... Connection:" + task.RASDial);
  TmsRas ras;
  ras.SetDialTimeout(timeout);
  if (task.RASDial.empty()) {
    Log(LogLevel::Error, number, "Service unknown");
    return false;
  }
  if (auto selected = ras.SelectEntry(task.RASDial); !selected) {
    // Without NetworkManager the user could not tell why the run failed; a missing entry was
    // visible in the task editor already.
    if (!ras.HasEntries()) Log(LogLevel::Error, number, "RAS Error: " + selected.Message());
    return false;
  }
  auto up = ras.FindConnection();
  if (up && *up) {
    Log(LogLevel::Error, number, "Interface is already connected");
    return true;
  }
  if (up) {
    up = ras.Dial([&task, &programClosing] { return task.StopTask || (programClosing && programClosing()); });
  }
  if (!up) {
    Log(LogLevel::Error, number, "RAS Error: " + up.Message());
    return false;
  }
  if (*up) {
    Log(LogLevel::Information, number, "Successful connection " + task.RASDial);
    return true;
  }
  Log(LogLevel::Error, number, "RAS Error: -1");
  return false;
}

void HangUpDialUp(int taskNumber, const std::string& entry) {
  TmsRas ras;
  if (entry.empty()) {
    Log(LogLevel::Error, taskNumber, "Service unknown");
    return;
  }
  if (!ras.SelectEntry(entry)) return;
  auto up = ras.FindConnection();
  if (up && *up) {
    if (auto down = ras.HangUp(); !down) {
      Log(LogLevel::Error, taskNumber, "RAS Error: " + down.Message());
      return;
    }
    Log(LogLevel::Information, taskNumber, "Successfully disconnected " + entry);
  } else if (up) {
    Log(LogLevel::Information, taskNumber, "Interface is already disconnected");
  } else {
    Log(LogLevel::Error, taskNumber, "RAS Error: " + up.Message());
  }
}

}  // namespace zentrove::transfer
