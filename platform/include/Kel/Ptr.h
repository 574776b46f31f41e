#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

namespace Kel {

// Intrusive shared pointer to a reference-counted object (one that offers newRef/deleteRef, as
// Kel::PtrInterface does). Null is allowed; converts derived to base and non-const to const.
// Counts are not atomic: everything runs on one event thread.
template <class T>
class Ptr {
 public:
  using element_type = T;

  Ptr() noexcept = default;
  Ptr(std::nullptr_t) noexcept {}
  Ptr(T* p) noexcept : p_(p) { acquire(); }
  Ptr(const Ptr& other) noexcept : p_(other.p_) { acquire(); }
  Ptr(Ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ptr(const Ptr<U>& other) noexcept : p_(other.get()) {
    acquire();
  }
  template <class U, class = std::enable_if_t<std::is_convertible_v<U*, T*>>>
  Ptr(Ptr<U>&& other) noexcept : p_(other.release()) {}
  ~Ptr() { reset(); }

  Ptr& operator=(Ptr other) noexcept {
    std::swap(p_, other.p_);
    return *this;
  }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->deleteRef();
  }
  // Gives up ownership without dropping the count; used by the converting move.
  T* release() noexcept { return std::exchange(p_, nullptr); }

  template <class U>
  bool operator==(const Ptr<U>& other) const noexcept {
    return p_ == other.get();
  }
  bool operator==(std::nullptr_t) const noexcept { return p_ == nullptr; }

 private:
  void acquire() const noexcept {
    if (p_) p_->newRef();
  }
  T* p_ = nullptr;
};

// Allocates a T and returns the first reference to it.
template <class T, class... Args>
Ptr<T> makePtr(Args&&... args) {
  return Ptr<T>(new T(std::forward<Args>(args)...));
}

// The same object as T, or null when it is not one.
template <class T, class U>
Ptr<T> dynamicPtrCast(const Ptr<U>& p) noexcept {
  return Ptr<T>(dynamic_cast<T*>(p.get()));
}

}  // namespace Kel
