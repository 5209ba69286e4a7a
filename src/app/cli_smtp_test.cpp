#include <ostream>

#include "app/cli.h"
#include "app/cli_option.h"
#include "core/config_folder.h"
#include "transfer/mail_notification.h"

namespace zentrove::app {

int RunSmtpTestCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
  if (!arguments.empty()) {
    err << "zentrove: smtp-test takes no arguments\n";
    return kExitUsage;
  }
  const core::IniFile file = core::OpenOptionsFile(core::ConfigFolder());
  const core::ProgramOptions options = core::LoadOptions(file);
  const platform::Status result = transfer::SmtpConnectionTest(options);
  if (!result) {
    out << "SMTP Test Fail: " << result.Message() << '\n';
    return kExitFailure;
  }
  out << "SMTP Test: Ok\n";
  return kExitSuccess;
}

}  // namespace zentrove::app
