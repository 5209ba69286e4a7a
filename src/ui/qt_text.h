#pragma once

#include <QString>
#include <string_view>

namespace zentrove::ui {

// Our texts are UTF-8 throughout; Qt's are UTF-16.
inline QString Utf8Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace zentrove::ui
