#include "transfer/smtp_reply.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace zentrove::transfer {
namespace {

constexpr std::size_t kMaxShownText = 400;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

}  // namespace

std::string PrintableServerText(std::string_view text) {
  std::string shown;
  shown.reserve(std::min(text.size(), kMaxShownText));
  for (const char c : text) {
    if (shown.size() >= kMaxShownText) {
      shown += "...";
      break;
    }
    const auto byte = static_cast<unsigned char>(c);
    shown.push_back(byte >= 0x20 && byte < 0x7f ? c : '?');
  }
  return shown;
}

std::string SmtpReply::Text() const {
  std::string text = std::to_string(code);
  for (const std::string& line : lines) {
    if (line.empty()) continue;
    text += ' ';
    text += line;
  }
  return PrintableServerText(text);
}

platform::Status SmtpReplyReader::Feed(std::string_view data) {
  if (!failure_) return failure_;
  while (!data.empty()) {
    const std::size_t end = data.find('\n');
    const std::string_view piece = data.substr(0, end);
    if (partialLine_.size() + piece.size() > kMaxLineLength + 1) {
      failure_ = platform::Status::Failure(EPROTO, "The server sent a reply line that is too long");
      return failure_;
    }
    partialLine_.append(piece);
    if (end == std::string_view::npos) break;
    data.remove_prefix(end + 1);
    std::string line = std::move(partialLine_);
    partialLine_.clear();
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (auto status = AddLine(line); !status) {
      failure_ = status;
      return failure_;
    }
  }
  return platform::Status::Success();
}

platform::Status SmtpReplyReader::AddLine(std::string_view line) {
  const auto refuse = [&line] {
    return platform::Status::Failure(
        EPROTO, "The server sent a line that is not an SMTP reply: " + PrintableServerText(line));
  };
  if (line.size() < 3 || !IsDigit(line[0]) || !IsDigit(line[1]) || !IsDigit(line[2])) return refuse();
  if (line[0] < '2' || line[0] > '5') return refuse();
  if (line.size() > 3 && line[3] != ' ' && line[3] != '-') return refuse();
  const int code = (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
  if (!current_.lines.empty() && code != current_.code) return refuse();
  if (current_.lines.size() >= kMaxLines) {
    return platform::Status::Failure(EPROTO, "The server sent a reply of too many lines");
  }
  current_.code = code;
  current_.lines.emplace_back(line.size() > 4 ? line.substr(4) : std::string_view());
  if (line.size() <= 3 || line[3] == ' ') {
    complete_.push_back(std::move(current_));
    current_ = SmtpReply{};
  }
  return platform::Status::Success();
}

SmtpReply SmtpReplyReader::TakeReply() {
  SmtpReply reply = std::move(complete_.front());
  complete_.pop_front();
  return reply;
}

}  // namespace zentrove::transfer
