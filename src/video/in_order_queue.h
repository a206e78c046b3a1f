// Items numbered 0, 1, 2, ... that several threads finish in any order, taken out by one
// thread in their order. Putting never waits: a thread that finishes an item early goes on
// to the next one instead of waiting for the items before it (in a clip, a thread that took
// a sound packet would otherwise idle while the other dehazes the frame before it). What
// may wait in here is bounded by what its producers can hold: in a clip, the frame buffers
// going round, and the other streams' packets stored among those frames.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <utility>

namespace vantorel {

template <typename Item>
class InOrderQueue {
 public:
  // Item `number`, each number once. False when the queue was closed (the item is dropped).
  bool Put(int64_t number, Item item) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return false;
    waiting_.emplace(number, std::move(item));
    if (number == next_) ready_.notify_one();
    return true;
  }

  // The next item in number order, waiting for it. False once the queue is closed and the
  // next item is not there: after a normal end, every item has been taken; after a stop,
  // the items behind a missing one are dropped.
  bool Pop(Item& item) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [&] { return closed_ || waiting_.count(next_) > 0; });
    auto found = waiting_.find(next_);
    if (found == waiting_.end()) return false;
    item = std::move(found->second);
    waiting_.erase(found);
    ++next_;
    return true;
  }

  // Ends the wait: Put refuses from now on, Pop returns the items in order up to the first
  // missing one, then false.
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    ready_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::map<int64_t, Item> waiting_;
  int64_t next_ = 0;
  bool closed_ = false;
};

}  // namespace vantorel
