// Items numbered 0, 1, 2, ... that several threads work on at once, each its own, and that
// must be handed on in their order: an item done early waits for its turn.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vantorel {

class Turns {
 public:
  // Waits until every item before `number` has had its turn. False when closed (the run
  // stops): the item is not handed on.
  bool Wait(int64_t number) {
    std::unique_lock<std::mutex> lock(mutex_);
    turn_.wait(lock, [&] { return closed_ || next_ == number; });
    return !closed_;
  }

  // Item `number`, whose turn it was, is handed on: the next one's turn.
  void Done(int64_t number) {
    std::lock_guard<std::mutex> lock(mutex_);
    next_ = number + 1;
    turn_.notify_all();
  }

  // Ends every wait for good.
  void Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    turn_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable turn_;
  int64_t next_ = 0;
  bool closed_ = false;
};

}  // namespace vantorel
