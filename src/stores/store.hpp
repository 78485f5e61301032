// One process-wide value behind a readers-writer lock.
//
// Readers get copies (or run a function under the read lock); writers replace the value or
// update it in place under the write lock, so read-modify-write sequences of concurrent
// threads never lose an update. A writer that throws leaves the store poisoned: from then on
// reads yield nothing and writes store nothing, for the life of the process.
#pragma once
#include <atomic>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <type_traits>
#include <utility>

#include "parser/diagnostics.hpp"

namespace brackwen {

template <class T>
struct Store {
  Store() = default;
  explicit Store(T initial) : value(std::move(initial)) {}
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  std::optional<T> get() const {
    std::shared_lock guard(mutex);
    if (poisoned) return std::nullopt;
    return value;
  }

  // Runs `fn(const T&)` under the read lock; absent when poisoned.
  template <class F>
  auto read(F&& fn) const -> std::optional<std::invoke_result_t<F&, const T&>> {
    std::shared_lock guard(mutex);
    if (poisoned) return std::nullopt;
    return fn(value);
  }

  bool set(T next) {
    return update([&](T& v) { v = std::move(next); });
  }

  // Runs `fn(T&)` under the write lock. False when poisoned. An exception from `fn`
  // poisons the store and is passed on.
  template <class F>
  bool update(F&& fn) {
    std::unique_lock guard(mutex);
    if (poisoned) return false;
    try {
      fn(value);
    } catch (...) {
      // The value may be half changed: nobody may read it or build on it any more. Whoever
      // catches the exception reports it; the store says what it costs.
      poisoned = true;
      write_stderr("A store's writer failed: it holds nothing from now on\n");
      throw;
    }
    return true;
  }

  bool is_poisoned() const { return poisoned; }

 private:
  mutable std::shared_mutex mutex;
  T value{};
  std::atomic<bool> poisoned{false};
};

}  // namespace brackwen
