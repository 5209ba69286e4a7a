#include "platform/result.h"

#include <cstring>

namespace zentrove::platform {
namespace {

// strerror_r comes in two shapes: the GNU one returns the text, the POSIX one fills the buffer.
[[maybe_unused]] const char* ErrorTextOf(const char* returned, const char*) {
  return returned;
}
[[maybe_unused]] const char* ErrorTextOf(int, const char* buffer) {
  return buffer;
}

}  // namespace

std::string ErrnoText(int code) {
  char buffer[256] = {};
  return ErrorTextOf(strerror_r(code, buffer, sizeof buffer), buffer);
}

Status Status::FromErrno(int code, std::string_view context) {
  std::string message(context);
  if (!message.empty()) message += ": ";
  message += ErrnoText(code);
  return Failure(code, std::move(message));
}

}  // namespace zentrove::platform
