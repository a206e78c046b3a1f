// The read-back of a batch of pixels that share their two sample slices (a run of pixel
// columns, over some rows): each pixel's trilinear sample of the normalised grid, value only.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantorel {

// Per pixel i < count: its x, y and z fractions, the offsets of its two sample rows' first
// cells in the slices, and its two z corners.
struct SampleJob {
  const double* lower;  // the normalised slice at the lower x corner
  const double* upper;  // ... at the upper x corner
  int32_t count;
  const float* dx;
  const float* dy;
  const float* dz;
  const size_t* row0;
  const size_t* row1;
  const uint32_t* z0;
  const uint32_t* z1;
  double* out;
};

// The sample of every pixel of the job: eight corner weights in single precision, each
// widened and multiplied with its corner, the products summed in corner order.
void SamplePixelsPlain(const SampleJob& job);

// The same, four pixels at a time where the processor has AVX2; the lanes round exactly
// as the plain code does, so the results are the same bit for bit.
void SamplePixelsVector(const SampleJob& job);

// The vector code where the processor has it, else the plain code.
using SampleFunction = void (*)(const SampleJob&);
SampleFunction BestSamplePixels();

}  // namespace vantorel
