#pragma once

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace zentrove::testing {

// Makes the calling thread honour file permissions even when the tests run as root (as CI does), by
// taking the capabilities that override them out of the thread's effective set for as long as the
// object lives. Capabilities belong to threads, so the rest of the test program is unaffected;
// threads started meanwhile inherit the reduced set.
class PermissionChecks {
 public:
  PermissionChecks() {
    if (geteuid() != 0) {
      holds_ = true;
      return;
    }
    if (!Get(saved_)) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    reduced[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
    dropped_ = Set(reduced);
    holds_ = dropped_;
  }
  ~PermissionChecks() {
    if (dropped_) (void)Set(saved_);
  }
  PermissionChecks(const PermissionChecks&) = delete;
  PermissionChecks& operator=(const PermissionChecks&) = delete;

  // False when the thread still reads and writes everything, and a test of a refusal must be skipped.
  bool Hold() const { return holds_; }

 private:
  static bool Get(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &header, data) == 0;
  }
  static bool Set(__user_cap_data_struct (&data)[2]) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capset, &header, data) == 0;
  }

  __user_cap_data_struct saved_[2] = {};
  bool dropped_ = false;
  bool holds_ = false;
};

}  // namespace zentrove::testing
