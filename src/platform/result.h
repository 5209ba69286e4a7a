#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zentrove::platform {

// The text the C library gives for an errno value ("No such file or directory"); thread-safe.
std::string ErrnoText(int code);

// The outcome of an operation that yields no value: success, or a failure with the errno value (or
// another non-zero code where no errno applies) and a message for the user.
class [[nodiscard]] Status {
 public:
  Status() = default;

  static Status Success() { return Status(); }
  static Status Failure(int code, std::string message) {
    return Status(code == 0 ? -1 : code, std::move(message));
  }
  // A failure whose message is the context, ": " and the errno text, for example
  // "/data/a.txt: Permission denied".
  static Status FromErrno(int code, std::string_view context);

  bool Ok() const { return code_ == 0; }
  explicit operator bool() const { return Ok(); }
  int Code() const { return code_; }
  const std::string& Message() const { return message_; }

 private:
  Status(int code, std::string message) : code_(code), message_(std::move(message)) {}

  int code_ = 0;
  std::string message_;
};

// A value or the Status of the failure that prevented it.
template <typename T>
class [[nodiscard]] Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit on purpose, like std::expected
  Result(Status failure) : status_(std::move(failure)) {
    if (status_.Ok()) status_ = Status::Failure(-1, "no value");
  }

  bool Ok() const { return value_.has_value(); }
  explicit operator bool() const { return Ok(); }
  const Status& GetStatus() const { return status_; }
  int Code() const { return status_.Code(); }
  const std::string& Message() const { return status_.Message(); }

  // Only when Ok().
  T& Value() & { return *value_; }
  const T& Value() const& { return *value_; }
  T&& Value() && { return std::move(*value_); }
  T* operator->() { return &*value_; }
  const T* operator->() const { return &*value_; }
  T& operator*() & { return *value_; }
  const T& operator*() const& { return *value_; }

  T ValueOr(T fallback) const& { return value_ ? *value_ : std::move(fallback); }

 private:
  std::optional<T> value_;
  Status status_;
};

}  // namespace zentrove::platform
