// A list of callbacks that observe one kind of change. Observers are called
// in the order they were added, on the thread that calls notify (the owner's
// queue). `add` hands back a Subscription: the observer stays on the list
// while the subscription lives and is removed when it is destroyed or reset,
// so an observer never outlives the object that subscribed it. Either side
// may go first: a subscription that outlives its list does nothing.
//
// An observer may add or remove observers, itself included, while it is
// being notified: the change takes effect from the next notify, except that a
// removed observer is never called again.
//
//   class OfflineBanner {
//     explicit OfflineBanner(NetworkMonitor& monitor)
//         : network_(monitor.addObserver([this](bool connected) { show(!connected); })) {}
//     platform::Subscription network_;   // removed with the banner
//   };
//
// THREAD-SAFETY: a list and its subscriptions belong to the owner's queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace orvik::platform {

class Subscription {
 public:
  Subscription() = default;
  Subscription(Subscription&& other) noexcept : remove_(std::exchange(other.remove_, {})) {}
  Subscription& operator=(Subscription&& other) noexcept {
    if (this != &other) {
      reset();
      remove_ = std::exchange(other.remove_, {});
    }
    return *this;
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;
  ~Subscription() { reset(); }

  // Removes the observer now; later resets do nothing.
  void reset() {
    if (auto remove = std::exchange(remove_, {})) remove();
  }
  // True while the subscription holds an observer.
  explicit operator bool() const { return static_cast<bool>(remove_); }

 private:
  template <typename... Args>
  friend class ObserverList;
  explicit Subscription(std::function<void()> remove) : remove_(std::move(remove)) {}

  std::function<void()> remove_;
};

template <typename... Args>
class ObserverList {
 public:
  using Observer = std::function<void(Args...)>;

  ObserverList() = default;
  ObserverList(const ObserverList&) = delete;
  ObserverList& operator=(const ObserverList&) = delete;

  [[nodiscard]] Subscription add(Observer observer) {
    const std::uint64_t id = ++state_->lastId;
    state_->entries.push_back(std::make_shared<Entry>(Entry{id, std::move(observer), true}));
    return Subscription([weak = std::weak_ptr<State>(state_), id] {
      if (auto state = weak.lock()) state->remove(id);
    });
  }

  void notify(Args... args) const {
    const auto snapshot = state_->entries;
    for (const auto& entry : snapshot) {
      if (entry->live) entry->observer(args...);
    }
  }

  std::size_t size() const { return state_->entries.size(); }

 private:
  struct Entry {
    std::uint64_t id;
    Observer observer;
    bool live;
  };
  struct State {
    std::uint64_t lastId = 0;
    std::vector<std::shared_ptr<Entry>> entries;

    void remove(std::uint64_t id) {
      std::erase_if(entries, [id](const auto& entry) {
        if (entry->id != id) return false;
        entry->live = false;
        return true;
      });
    }
  };
  std::shared_ptr<State> state_ = std::make_shared<State>();
};

}  // namespace orvik::platform
