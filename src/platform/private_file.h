#pragma once

#include <string>
#include <string_view>

#include "platform/result.h"

namespace zentrove::platform {

// A file that only this user may read (mode 0600), in the private runtime folder (RuntimeFolder(),
// kept in memory on most systems), for a secret handed to another program by name instead of on its
// command line, which every local user can read. The file goes when the object does.
class PrivateFile {
 public:
  PrivateFile() = default;
  ~PrivateFile();
  PrivateFile(PrivateFile&& other) noexcept;
  PrivateFile& operator=(PrivateFile&& other) noexcept;
  PrivateFile(const PrivateFile&) = delete;
  PrivateFile& operator=(const PrivateFile&) = delete;

  // A new file whose name starts with `namePrefix` and that holds exactly `contents`.
  static Result<PrivateFile> Create(std::string_view namePrefix, std::string_view contents);

  const std::string& Path() const { return path_; }
  // Removes the file now; also done by the destructor.
  void Remove();

 private:
  explicit PrivateFile(std::string path) : path_(std::move(path)) {}
  std::string path_;
};

}  // namespace zentrove::platform
