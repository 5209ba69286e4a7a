#pragma once

#include <string_view>

#ifndef ZENTROVE_VERSION_TEXT
#error "ZENTROVE_VERSION_TEXT must be defined by the build"
#endif

namespace zentrove::core {

// The program's version as major.minor.release, as the build defines it.
constexpr std::string_view VersionText() {
  return ZENTROVE_VERSION_TEXT;
}

}  // namespace zentrove::core
