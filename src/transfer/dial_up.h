#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/task_record.h"
#include "platform/result.h"

namespace zentrove::transfer {

inline constexpr std::string_view kNoRasText = "Program was unable to detect RAS on your system";
inline constexpr std::string_view kInvalidServiceText = "Invalid service name";
inline constexpr std::string_view kCanceledText = "Operation has been canceled";
inline constexpr std::string_view kTimedOutText = "Operation timed out";

// A NetworkManager connection as `nmcli -t -f NAME,TYPE` lists it.
struct NetworkConnection {
  std::string name;
  std::string type;
};
// The terse lines of nmcli: fields separated by ":", with "\:" and "\\" inside a field.
std::vector<NetworkConnection> ParseNmcliConnections(std::string_view output);
// The kinds of connection that stand for dial-up: mobile broadband, PPPoE, VPN, WireGuard and
// Bluetooth. Ethernet and Wi-Fi are never offered, so a hang-up cannot take down the machine's own
// link.
bool IsDialUpKind(std::string_view type);

// The dial-up entries of the system (NetworkManager's connections of the dial-up kinds) and one
// connection among them, for one step.
class TmsRas {
 public:
  TmsRas();

  // Re-reads the entries; empty when nmcli is missing or lists none.
  const std::vector<std::string>& Entries();
  // The entries as last read, by the constructor or Entries.
  const std::vector<std::string>& KnownEntries() const { return entries_; }
  bool HasEntries() const { return !entries_.empty(); }
  // Empty: clears the selection.
  platform::Status SelectEntry(const std::string& name);
  // True when the selected entry is up.
  platform::Result<bool> FindConnection();
  // Brings the selected entry up; true when it came up. At most DialTimeout, ended early when
  // `shouldStop` answers true. A failed or ended dial brings down what was started.
  platform::Result<bool> Dial(const std::function<bool()>& shouldStop);
  platform::Status HangUp();

  void SetDialTimeout(std::chrono::milliseconds timeout) { dialTimeout_ = timeout; }

 private:
  std::vector<std::string> entries_;
  std::string selected_;
  std::chrono::milliseconds dialTimeout_{120000};
};

// The task's dial before its run (worker thread): true when the connection is up.
bool DialUp(core::TArhRecord& task, const std::function<bool()>& programClosing = {},
            std::chrono::milliseconds timeout = std::chrono::seconds(120));
// The hang-up after the run.
void HangUpDialUp(int taskNumber, const std::string& entry);

}  // namespace zentrove::transfer
