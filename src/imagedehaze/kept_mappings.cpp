#include "imagedehaze/kept_mappings.h"

#include <sys/mman.h>

#include <vector>

namespace vantorel {

bool KeptMappings::Take(size_t length, Mapping& mapping) {
  const std::lock_guard<std::mutex> hold(lock_);
  auto best = kept_.end();
  for (auto it = kept_.begin(); it != kept_.end(); ++it) {
    if (it->length >= length && (best == kept_.end() || it->length < best->length)) best = it;
  }
  if (best == kept_.end()) return false;
  mapping = *best;
  kept_bytes_ -= best->length;
  kept_.erase(best);
  return true;
}

void KeptMappings::Keep(const Mapping& mapping) {
  if (mapping.length > most_bytes_ || madvise(mapping.start, mapping.length, MADV_FREE) != 0) {
    munmap(mapping.start, mapping.length);
    return;
  }
  std::vector<Mapping> dropped;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    kept_.push_back(mapping);
    kept_bytes_ += mapping.length;
    while (kept_bytes_ > most_bytes_) {
      dropped.push_back(kept_.front());
      kept_bytes_ -= kept_.front().length;
      kept_.pop_front();
    }
  }
  for (const Mapping& old : dropped) munmap(old.start, old.length);
}

void KeptMappings::UnmapAll() {
  std::deque<Mapping> dropped;
  {
    const std::lock_guard<std::mutex> hold(lock_);
    dropped.swap(kept_);
    kept_bytes_ = 0;
  }
  for (const Mapping& old : dropped) munmap(old.start, old.length);
}

size_t KeptMappings::KeptBytes() {
  const std::lock_guard<std::mutex> hold(lock_);
  return kept_bytes_;
}

}  // namespace vantorel
