// Pictures held for the page between requests, by id, in memory only. Bounded by a count
// and by bytes: adding one drops the least recently used others until both fit.
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <random>
#include <string>

namespace vantorel {

template <typename Item>
class PictureStore {
 public:
  PictureStore(std::size_t max_count, uint64_t max_bytes) : max_count_(max_count), max_bytes_(max_bytes) {}

  // Holds `item`, which counts for `bytes`, under a new id that nobody can guess; "" when
  // the item alone is over the budget (nothing is dropped then). Requests still using a
  // dropped item keep it alive until they finish.
  std::string Add(std::shared_ptr<Item> item, uint64_t bytes) {
    if (bytes > max_bytes_ || max_count_ == 0) return "";
    std::lock_guard<std::mutex> lock(mutex_);
    while (!entries_.empty() && (entries_.size() + 1 > max_count_ || held_bytes_ + bytes > max_bytes_)) {
      held_bytes_ -= entries_.back().bytes;
      entries_.pop_back();
    }
    std::string id = NewId();
    entries_.push_front({id, std::move(item), bytes});
    held_bytes_ += bytes;
    return id;
  }

  // The item, now the most recently used; nullptr for an unknown or dropped id.
  std::shared_ptr<Item> Find(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->id != id) continue;
      entries_.splice(entries_.begin(), entries_, it);
      return entries_.front().item;
    }
    return nullptr;
  }

  bool Remove(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
      if (it->id != id) continue;
      held_bytes_ -= it->bytes;
      entries_.erase(it);
      return true;
    }
    return false;
  }

  uint64_t HeldBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_bytes_;
  }

 private:
  struct Entry {
    std::string id;
    std::shared_ptr<Item> item;
    uint64_t bytes;
  };

  // 128 random bits in hex: ids are capabilities, so a page that cannot read this server's
  // answers cannot name a picture either.
  std::string NewId() {
    static const char kDigits[] = "0123456789abcdef";
    std::string id;
    for (int i = 0; i < 4; ++i) {
      uint32_t word = random_();
      for (int j = 0; j < 8; ++j, word >>= 4) id += kDigits[word & 15];
    }
    return id;
  }

  const std::size_t max_count_;
  const uint64_t max_bytes_;
  mutable std::mutex mutex_;
  std::list<Entry> entries_;  // most recently used first
  uint64_t held_bytes_ = 0;
  std::random_device random_;
};

}  // namespace vantorel
