// A mutex with a broken mark. When an internal fault (an exception) passes
// out of code that holds the lock, the mark is set and stays set for the
// life of the process: later users are refused instead of seeing state that
// a fault may have left half-changed.
#pragma once

#include <exception>
#include <mutex>
#include <utility>

#include "error.hpp"

namespace zefa::api {

template <class T>
class Locked {
 public:
  // Exclusive access to the guarded value; holds the mutex until destroyed.
  class Access {
   public:
    Access(Access&& o) noexcept : owner_(std::exchange(o.owner_, nullptr)), lock_(std::move(o.lock_)), entry_(o.entry_) {}
    Access(const Access&) = delete;
    Access& operator=(const Access&) = delete;
    Access& operator=(Access&&) = delete;
    ~Access() {
      if (owner_ && std::uncaught_exceptions() > entry_) owner_->broken_ = true;
    }
    T& operator*() const noexcept { return owner_->value_; }
    T* operator->() const noexcept { return &owner_->value_; }
    // Lets go of the lock before the end of the scope.
    void release() noexcept {
      if (owner_ && std::uncaught_exceptions() > entry_) owner_->broken_ = true;
      owner_ = nullptr;
      if (lock_.owns_lock()) lock_.unlock();
    }

   private:
    friend class Locked;
    Access(Locked* owner, std::unique_lock<std::mutex> lock)
        : owner_(owner), lock_(std::move(lock)), entry_(std::uncaught_exceptions()) {}
    Locked* owner_;
    std::unique_lock<std::mutex> lock_;
    int entry_;
  };

  template <class... A>
  explicit Locked(A&&... args) : value_(std::forward<A>(args)...) {}

  // Waits for the mutex; a broken lock is released at once and refused with
  // the given error.
  Result<Access> lock(ErrorKind kind, const char* broken_message) {
    std::unique_lock<std::mutex> l(m_);
    if (broken_) return fail(kind, broken_message);
    return Access(this, std::move(l));
  }

 private:
  std::mutex m_;
  bool broken_ = false;
  T value_;
};

}  // namespace zefa::api
