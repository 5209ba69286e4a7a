#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "platform/result.h"

namespace zentrove::transfer {

// A recipient that smbclient could take for an option, or that holds blanks or control characters,
// is refused.
platform::Status CheckNetSendRecipient(std::string_view recipient);

// The network message: `smbclient -N -M recipient` with the text on its standard input, started and
// left alone (killed after 30 seconds). Nothing happens when smbclient is missing; a refused recipient
// gives a warning line under the task's number.
void NetSend(const std::string& recipient, const std::string& text, int taskNumber = 0);

// Waits until the messages started so far have ended; true when they have.
bool WaitForNetMessages(std::chrono::milliseconds timeout);

}  // namespace zentrove::transfer
