#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>

namespace zentrove::base {

// A task field that the main thread and a run's worker thread both touch. Each value is read and
// written whole, so the two threads never see a torn value, yet the record stays copyable like the
// plain fields around it.
template <typename T>
class Shared {
 public:
  Shared() = default;
  Shared(T value) : value_(value) {}  // NOLINT(google-explicit-constructor)
  Shared(const Shared& other) : value_(other.load()) {}
  Shared& operator=(const Shared& other) {
    store(other.load());
    return *this;
  }
  Shared& operator=(T value) {
    store(value);
    return *this;
  }
  operator T() const { return load(); }  // NOLINT(google-explicit-constructor)
  T load() const { return value_.load(std::memory_order_relaxed); }
  void store(T value) { value_.store(value, std::memory_order_relaxed); }
  T fetch_add(T delta) { return value_.fetch_add(delta, std::memory_order_relaxed); }

 private:
  std::atomic<T> value_{};
};

// A run-state text written by the worker and read by the main thread for display.
class SharedText {
 public:
  SharedText() = default;
  SharedText(std::string_view text) : text_(text) {}  // NOLINT(google-explicit-constructor)
  SharedText(const SharedText& other) : text_(other.get()) {}
  SharedText& operator=(const SharedText& other) {
    if (this != &other) set(other.get());
    return *this;
  }
  SharedText& operator=(std::string_view text) {
    set(text);
    return *this;
  }
  std::string get() const {
    std::lock_guard lock(mutex_);
    return text_;
  }
  void set(std::string_view text) {
    std::lock_guard lock(mutex_);
    text_.assign(text);
  }
  bool empty() const {
    std::lock_guard lock(mutex_);
    return text_.empty();
  }
  operator std::string() const { return get(); }  // NOLINT(google-explicit-constructor)

 private:
  mutable std::mutex mutex_;
  std::string text_;
};

}  // namespace zentrove::base
