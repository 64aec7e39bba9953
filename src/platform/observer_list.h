// A list of callbacks that observe one kind of change. Observers are called
// in the order they were added, on the thread that calls notify (the owner's
// queue). An observer may add or remove observers, itself included, while it
// is being notified: the change takes effect from the next notify, except
// that a removed observer is never called again.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace orvik::platform {

template <typename... Args>
class ObserverList {
 public:
  using Observer = std::function<void(Args...)>;
  using Id = std::uint64_t;

  Id add(Observer observer) {
    const Id id = ++lastId_;
    entries_.push_back(std::make_shared<Entry>(Entry{id, std::move(observer), true}));
    return id;
  }

  void remove(Id id) {
    std::erase_if(entries_, [id](const auto& entry) {
      if (entry->id != id) return false;
      entry->live = false;
      return true;
    });
  }

  void notify(Args... args) const {
    const auto snapshot = entries_;
    for (const auto& entry : snapshot) {
      if (entry->live) entry->observer(args...);
    }
  }

  std::size_t size() const { return entries_.size(); }

 private:
  struct Entry {
    Id id;
    Observer observer;
    bool live;
  };
  Id lastId_ = 0;
  std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace orvik::platform
