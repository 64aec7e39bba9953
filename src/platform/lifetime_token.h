// "Is the owner still alive?" for work that may outlive an object with one
// owner (the role of a weak-pointer factory). The object keeps a LifetimeToken
// as its LAST member, so the token goes first when the object is destroyed,
// before any other member's destructor can run posted work. Callbacks capture
// a WeakRef instead of `this`:
//
//   queue_.post([weak = lifetime_.weak(this)] {
//     if (auto* self = weak.get()) self->retry();   // null once the owner is gone
//   });
//
// Objects that are shared anyway (made by `make()` into a std::shared_ptr)
// keep using weak_from_this(); everything else uses this token.
//
// THREAD-SAFETY: make refs anywhere, but ask `get()` only on the owner's
// queue, where the owner is also destroyed: a ref read on another thread may
// see the owner alive just before it goes.
#pragma once

#include <memory>

namespace orvik::platform {

template <typename T>
class WeakRef {
 public:
  WeakRef() = default;

  // The owner, or null when it was destroyed (or the token invalidated).
  T* get() const { return anchor_.expired() ? nullptr : object_; }
  explicit operator bool() const { return get() != nullptr; }

 private:
  friend class LifetimeToken;
  WeakRef(std::weak_ptr<const void> anchor, T* object) : anchor_(std::move(anchor)), object_(object) {}

  std::weak_ptr<const void> anchor_;
  T* object_ = nullptr;
};

class LifetimeToken {
 public:
  LifetimeToken() = default;
  LifetimeToken(const LifetimeToken&) = delete;
  LifetimeToken& operator=(const LifetimeToken&) = delete;

  template <typename T>
  WeakRef<T> weak(T* object) const {
    return WeakRef<T>(anchor_, object);
  }

  // Every ref handed out so far reads null from now on, as if the owner had
  // gone; refs made afterwards work. For owners that restart.
  void invalidate() { anchor_ = std::make_shared<char>(); }

 private:
  std::shared_ptr<const void> anchor_ = std::make_shared<char>();
};

}  // namespace orvik::platform
