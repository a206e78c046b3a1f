// How much memory a picture needs and how much the process may use.
#include "dehazefile/memory_budget.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <sys/resource.h>

#include "dehazefile/image_header.h"

namespace vantorel {

namespace {

// A fixed allowance on top: the stacks and allocator arenas of the worker threads (about
// 150 MiB of address space when measured as above) and the grids' margins.
constexpr uint64_t kPipelineFixedBytes = 160ull << 20;

// Limits at or above this are the kernel's way of saying "none".
constexpr uint64_t kNoLimitThreshold = 1ull << 60;

uint64_t Saturating(uint64_t a, uint64_t b) { return a > kUnlimitedBytes - b ? kUnlimitedBytes : a + b; }

uint64_t Multiply(uint64_t a, uint64_t b) {
  if (a != 0 && b > kUnlimitedBytes / a) return kUnlimitedBytes;
  return a * b;
}

bool ReadFile(const std::string& path, std::string& text) {
  std::ifstream file(path);
  if (!file) return false;
  std::ostringstream content;
  content << file.rdbuf();
  text = content.str();
  return true;
}

// The number after "key" at the start of a line (as in /proc/meminfo or memory.stat).
bool FindNumber(const std::string& text, const std::string& key, uint64_t& value) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name;
    unsigned long long number = 0;
    if (fields >> name && name == key && fields >> number) {
      value = number;
      return true;
    }
  }
  return false;
}

// A control-group memory limit file: a number of bytes, or "max" (version 2).
bool ReadLimitFile(const std::string& path, uint64_t& limit) {
  std::string text;
  if (!ReadFile(path, text)) return false;
  if (text.compare(0, 3, "max") == 0) {
    limit = kUnlimitedBytes;
    return true;
  }
  std::istringstream in(text);
  unsigned long long number = 0;
  if (!(in >> number)) return false;
  limit = number >= kNoLimitThreshold ? kUnlimitedBytes : number;
  return true;
}

struct CgroupFiles {
  const char* limit;
  const char* usage;
  const char* reclaimable;  // the line of memory.stat that counts page cache the kernel can drop
};
constexpr CgroupFiles kCgroupV2 = {"memory.max", "memory.current", "inactive_file"};
constexpr CgroupFiles kCgroupV1 = {"memory.limit_in_bytes", "memory.usage_in_bytes", "total_inactive_file"};

// The headroom of one group: its limit less what it uses, not counting page cache
// that would be dropped before the kernel kills anything. kUnlimitedBytes when the
// group has no limit or no such files.
uint64_t GroupHeadroom(const std::string& dir, const CgroupFiles& files) {
  uint64_t limit = kUnlimitedBytes;
  if (!ReadLimitFile(dir + "/" + files.limit, limit) || limit == kUnlimitedBytes) return kUnlimitedBytes;
  uint64_t usage = 0;
  std::string text;
  if (ReadFile(dir + "/" + files.usage, text)) {
    std::istringstream in(text);
    unsigned long long number = 0;
    if (in >> number) usage = number;
  }
  uint64_t reclaimable = 0;
  if (ReadFile(dir + "/memory.stat", text)) FindNumber(text, files.reclaimable, reclaimable);
  usage -= std::min(usage, reclaimable);
  return limit > usage ? limit - usage : 0;
}

// The smallest headroom from `mount` + `path` up to `mount` itself.
uint64_t SmallestHeadroomUpTo(const std::string& mount, std::string path, const CgroupFiles& files) {
  uint64_t smallest = kUnlimitedBytes;
  while (true) {
    smallest = std::min(smallest, GroupHeadroom(mount + path, files));
    if (path.empty() || path == "/") break;
    const size_t slash = path.find_last_of('/');
    path = slash == std::string::npos ? "" : path.substr(0, slash);
  }
  return smallest;
}

std::string FormatBytes(uint64_t bytes) {
  const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
  char text[32];
  if (mib >= 1024.0) {
    std::snprintf(text, sizeof text, "%.1f GiB", mib / 1024.0);
  } else {
    std::snprintf(text, sizeof text, "%.0f MiB", mib);
  }
  return text;
}

}  // namespace

uint64_t PipelinePeakBytes(uint64_t cols, uint64_t rows) {
  return Saturating(Multiply(Multiply(cols, rows), kPipelineBytesPerPixel), kPipelineFixedBytes);
}

uint64_t DecodedPictureBytes(uint64_t cols, uint64_t rows) { return Multiply(Multiply(cols, rows), 3); }

uint64_t MemoryLimits::Smallest() const {
  return std::min({cgroup_headroom, address_space_headroom, available});
}

uint64_t MemAvailableFromMeminfo(const std::string& meminfo) {
  uint64_t kib = 0;
  if (!FindNumber(meminfo, "MemAvailable:", kib)) return kUnlimitedBytes;
  return Multiply(kib, 1024);
}

uint64_t CgroupHeadroom(const std::string& proc_cgroup, const std::string& cgroup_root) {
  uint64_t smallest = kUnlimitedBytes;
  std::istringstream lines(proc_cgroup);
  std::string line;
  while (std::getline(lines, line)) {
    // hierarchy-id:controllers:path
    const size_t first = line.find(':');
    const size_t second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (controllers.empty()) {
      smallest = std::min(smallest, SmallestHeadroomUpTo(cgroup_root, path, kCgroupV2));
    } else {
      std::istringstream names(controllers);
      std::string name;
      while (std::getline(names, name, ',')) {
        if (name == "memory") {
          smallest = std::min(smallest, SmallestHeadroomUpTo(cgroup_root + "/memory", path, kCgroupV1));
        }
      }
    }
  }
  return smallest;
}

uint64_t AddressSpaceHeadroom(uint64_t address_space_limit, const std::string& proc_status) {
  if (address_space_limit == kUnlimitedBytes) return kUnlimitedBytes;
  uint64_t mapped_kib = 0;
  FindNumber(proc_status, "VmSize:", mapped_kib);
  const uint64_t mapped = Multiply(mapped_kib, 1024);
  return address_space_limit > mapped ? address_space_limit - mapped : 0;
}

MemoryLimits ReadMemoryLimits() {
  MemoryLimits limits;
  std::string text;
  if (ReadFile("/proc/meminfo", text)) limits.available = MemAvailableFromMeminfo(text);
  if (ReadFile("/proc/self/cgroup", text)) limits.cgroup_headroom = CgroupHeadroom(text, "/sys/fs/cgroup");
  struct rlimit address_space {};
  if (::getrlimit(RLIMIT_AS, &address_space) == 0 && address_space.rlim_cur != RLIM_INFINITY &&
      ReadFile("/proc/self/status", text)) {
    limits.address_space_headroom = AddressSpaceHeadroom(address_space.rlim_cur, text);
  }
  return limits;
}

std::string MemoryRefusal(uint64_t cols, uint64_t rows, uint64_t needed, uint64_t usable) {
  char text[256];
  std::snprintf(text, sizeof text,
                "the picture is %llu x %llu pixels and needs about %s of memory, but only %s is available",
                static_cast<unsigned long long>(cols), static_cast<unsigned long long>(rows),
                FormatBytes(needed).c_str(), FormatBytes(usable).c_str());
  return text;
}

namespace {

// A 16-bit picture decodes to twice the bytes, and its dehaze needs the deeper pictures of
// the pipeline on top (an alpha channel, which the header does not tell, is left out).
bool DeclaredSizeFits(const DeclaredSize& declared, bool will_dehaze, std::string& error) {
  const uint64_t pixels = Multiply(declared.cols, declared.rows);
  uint64_t needed = Multiply(DecodedPictureBytes(declared.cols, declared.rows), declared.deep ? 2 : 1);
  if (will_dehaze) needed = Saturating(needed, PipelinePeakBytes(declared.cols, declared.rows));
  if (will_dehaze && declared.deep) needed = Saturating(needed, Multiply(pixels, kDeepPipelineExtraBytesPerPixel));
  const uint64_t usable = ReadMemoryLimits().Smallest();
  if (needed <= usable) return true;
  error = MemoryRefusal(declared.cols, declared.rows, needed, usable);
  return false;
}

}  // namespace

bool SourceFitsInMemory(const std::string& path, bool will_dehaze, std::string& error) {
  DeclaredSize declared;
  return !ReadDeclaredSizeOfFile(path, declared) || DeclaredSizeFits(declared, will_dehaze, error);
}

bool SourceBytesFitInMemory(const unsigned char* bytes, size_t size, bool will_dehaze, std::string& error) {
  DeclaredSize declared;
  return !ReadDeclaredSize(bytes, size, declared) || DeclaredSizeFits(declared, will_dehaze, error);
}

bool PipelineFitsInMemory(int cols, int rows, std::string& error, int extra_per_pixel) {
  const auto c = static_cast<uint64_t>(cols), r = static_cast<uint64_t>(rows);
  const uint64_t needed =
      Saturating(PipelinePeakBytes(c, r), Multiply(Multiply(c, r), static_cast<uint64_t>(extra_per_pixel)));
  const uint64_t usable = ReadMemoryLimits().Smallest();
  if (needed <= usable) return true;
  error = MemoryRefusal(c, r, needed, usable);
  return false;
}

}  // namespace vantorel
