// Fuzz target: DehazeCPU driven directly with any size from 1 to 64 each way, any
// thickness bit pattern and any pixel bytes.
//   input  byte 0: cols - 1 (mod 64); byte 1: rows - 1 (mod 64); bytes 2..5: the
//          thickness's bits (little-endian float); the rest: pixel bytes, repeated to
//          fill rows x cols x 3 (zeros when there are none).
// Checks: an accepted thickness (0 < t <= 1) is processed; any other is refused with
// the buffer unchanged; exactly rows x cols x 3 bytes are ever written.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <opencv2/core.hpp>

#include "fuzz_common.h"
#include "imagedehaze/dehaze.h"

namespace {

constexpr size_t kHeaderBytes = 6;
constexpr size_t kGuardBytes = 16;
constexpr uint8_t kGuard = 0xA5;

[[noreturn]] void Broken(const char* what) { vantorel::FuzzPropertyBroken("fuzz_dehaze", what); }

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  vantorel::PrepareLibraryForFuzzing();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < kHeaderBytes) return 0;
  const int cols = 1 + data[0] % 64;
  const int rows = 1 + data[1] % 64;
  float thickness = 0.0f;
  std::memcpy(&thickness, data + 2, sizeof thickness);

  const size_t pixel_bytes = static_cast<size_t>(cols) * static_cast<size_t>(rows) * 3;
  std::vector<uint8_t> buffer(pixel_bytes + kGuardBytes, kGuard);
  const uint8_t* pixels = data + kHeaderBytes;
  const size_t given = size - kHeaderBytes;
  for (size_t i = 0; i < pixel_bytes; ++i) buffer[i] = given == 0 ? 0 : pixels[i % given];
  const std::vector<uint8_t> before = buffer;

  const bool accepted = thickness > 0.0f && thickness <= 1.0f;
  const bool processed = vantorel::DehazeCPU(buffer.data(), cols, rows, thickness);
  if (processed != accepted) Broken(accepted ? "a valid thickness was refused" : "an invalid thickness was accepted");
  if (!processed && buffer != before) Broken("a refused call changed the buffer");
  if (!std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(pixel_bytes), buffer.end(),
                   [](uint8_t b) { return b == kGuard; })) {
    Broken("bytes after the picture were written");
  }
  return 0;
}
