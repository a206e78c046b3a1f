// The streaming core over work matrices.
#include "filters/bilateral_grid_streaming.h"

#include <algorithm>
#include <utility>

#include "filters/grid_stream.h"

namespace vantorel {

namespace {

struct WorkMatrixSource {
  const WorkMatrix& values;
  const WorkMatrix& edges;
  double Value(int32_t x, int32_t y) const { return values(x, y); }
  double Edge(int32_t x, int32_t y) const { return edges(x, y); }
  void EdgeRange(double& emin, double& emax) const {
    emin = *std::min_element(edges.storage.begin(), edges.storage.end());
    emax = *std::max_element(edges.storage.begin(), edges.storage.end());
  }
};

struct WorkMatrixSink {
  WorkMatrix& out;
  void Put(int32_t x, int32_t y, double v) const { out(x, y) = v; }
};

}  // namespace

void BilateralGridStreamingCPU(const WorkMatrix& input, const WorkMatrix& edge, double sigma_s,
                               double sigma_r, WorkMatrix& result) {
  // A result that is also the input gets a separate matrix and takes it over at the end.
  WorkMatrix separate;
  WorkMatrix& out = &result == &input ? separate : result;
  out.Resize(input.x_size, input.y_size);
  StreamBilateralGrid(WorkMatrixSource{input, edge}, WorkMatrixSink{out}, input.x_size,
                      input.y_size, sigma_s, sigma_r);
  if (&out == &separate) result = std::move(separate);
}

}  // namespace vantorel
