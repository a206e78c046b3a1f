// The library's streaming core over work matrices, for the tests and benchmarks.
#include "bilateral_grid.h"

#include <algorithm>
#include <utility>

#include "filters/grid_stream.h"

namespace vantorel {

namespace {

// Raw pointers rather than the matrices, so that the hot loops keep them in registers.
struct WorkMatrixSource {
  const double* values;
  const double* edges;
  size_t y_size, count;
  double Value(int32_t x, int32_t y) const { return values[static_cast<size_t>(x) * y_size + y]; }
  double Edge(int32_t x, int32_t y) const { return edges[static_cast<size_t>(x) * y_size + y]; }
  const double* EdgePointer(int32_t x, int32_t y) const { return edges + static_cast<size_t>(x) * y_size + y; }
  size_t EdgeStride() const { return y_size; }
  void EdgeRange(double& emin, double& emax) const {
    emin = *std::min_element(edges, edges + count);
    emax = *std::max_element(edges, edges + count);
  }
};

struct WorkMatrixSink {
  double* out;
  size_t y_size;
  double* Pointer(int32_t x, int32_t y) const { return out + static_cast<size_t>(x) * y_size + y; }
  size_t Stride() const { return y_size; }
};

}  // namespace

void BilateralGridCPU(const WorkMatrix& input, const WorkMatrix& edge, double sigma_s,
                      double sigma_r, WorkMatrix& result) {
  // A result that is also an input gets a separate matrix and takes it over at the end.
  WorkMatrix separate;
  WorkMatrix& out = &result == &input || &result == &edge ? separate : result;
  out.Resize(input.x_size, input.y_size);
  const size_t y_size = static_cast<size_t>(input.y_size);
  StreamBilateralGrid(WorkMatrixSource{input.storage.data(), edge.storage.data(), y_size, edge.storage.size()},
                      WorkMatrixSink{out.storage.data(), y_size}, input.x_size, input.y_size, sigma_s,
                      sigma_r);
  if (&out == &separate) result = std::move(separate);
}

}  // namespace vantorel
