// How much memory a picture needs and how much the process may use, so that a picture
// too large is refused with a clear message instead of the kernel killing the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vantorel {

constexpr uint64_t kUnlimitedBytes = UINT64_MAX;

// What a 16-bit picture's dehaze needs beyond PipelinePeakBytes: its 16-bit result and the
// final filter's 16-bit plane (4 bytes a pixel more), and the decoded picture's second
// byte per sample (3 more). Measured with bench/deep.sh: 4.8 bytes a pixel at 12 megapixels.
constexpr uint64_t kDeepPipelineExtraBytesPerPixel = 7;

// Bytes per pixel at the pipeline's peak, over and above the decoded picture. The
// pipeline's working images and bilateral grids all grow with rows x cols, so one figure
// per pixel covers them.
// Measured with tests/large/run_large.sh (/usr/bin/time -v, 2-core machine): the peak
// resident size exceeds that of a run that only decodes by 16.5 bytes per pixel from
// 4000 x 3000 to 12000 x 8000 (the float picture in three channels and one float plane);
// the peak mapped size (VmPeak, what an address-space limit counts) grows by 17 to 24
// bytes per pixel. The natural look keeps two more float planes while it measures how
// flat the picture is: 24 bytes per pixel of resident size at 15.9 megapixels, and a
// peak mapped size 7.7 bytes per pixel above the classic look's. 32 leaves room on top. This figure must follow the pipeline:
// re-measure and update it whenever a stage or a filter changes what it keeps alive at
// once (the plain reference filters, for one, would need much more: the two full grids
// of the final 8-bit filter alone come to about 110 bytes per pixel).
// A second pipeline running at the same time (a clip's frames) needs as much again.
constexpr int kPipelineBytesPerPixel = 32;

// What the dehazing pipeline allocates at its peak, on top of the decoded picture: the
// bytes a pixel above and a fixed allowance for the threads.
uint64_t PipelinePeakBytes(uint64_t cols, uint64_t rows);

// The decoded 8-bit three-channel picture itself.
uint64_t DecodedPictureBytes(uint64_t cols, uint64_t rows);

// The ways the memory of this process is bounded; kUnlimitedBytes where there is no bound.
struct MemoryLimits {
  uint64_t cgroup_headroom = kUnlimitedBytes;         // the control group's limit less its use
  uint64_t address_space_headroom = kUnlimitedBytes;  // RLIMIT_AS less the mapped size
  uint64_t available = kUnlimitedBytes;               // MemAvailable of the whole machine

  uint64_t Smallest() const;
};

// Reads the limits of the running process from /proc and /sys.
MemoryLimits ReadMemoryLimits();

// The parts of ReadMemoryLimits, over the text of the files they read.
//   meminfo      the text of /proc/meminfo
//   proc_cgroup  the text of /proc/self/cgroup; cgroup_root where the hierarchies are
//                mounted (/sys/fs/cgroup). Version 2 and version 1 are both understood;
//                every level from the process's group up to the root counts.
//   proc_status  the text of /proc/self/status (its VmSize line)
uint64_t MemAvailableFromMeminfo(const std::string& meminfo);
uint64_t CgroupHeadroom(const std::string& proc_cgroup, const std::string& cgroup_root);
uint64_t AddressSpaceHeadroom(uint64_t address_space_limit, const std::string& proc_status);

// Before decoding: false, with the reason in `error`, when the size that the source file
// declares (PNG and JPEG headers) is too large to decode and, if `will_dehaze`, to
// dehaze. Files whose size cannot be read from the header pass; the check after
// decoding covers them.
bool SourceFitsInMemory(const std::string& path, bool will_dehaze, std::string& error);

// The same for a file's bytes in memory.
bool SourceBytesFitInMemory(const unsigned char* bytes, size_t size, bool will_dehaze, std::string& error);

// After decoding: false, with the reason in `error`, when the pipeline's peak for a
// cols x rows picture, plus `extra_per_pixel` bytes per pixel, exceeds what the process
// may still use.
bool PipelineFitsInMemory(int cols, int rows, std::string& error, int extra_per_pixel = 0);

// The refusal text: names the picture's size, the memory it needs and what is usable.
std::string MemoryRefusal(uint64_t cols, uint64_t rows, uint64_t needed, uint64_t usable);

}  // namespace vantorel
