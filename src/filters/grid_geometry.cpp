#include "filters/grid_geometry.h"

namespace vantorel {

namespace {

AxisPlace PlaceOnAxis(uint32_t pixel, double sigma_s, int32_t size) {
  AxisPlace place;
  place.fill = NearestCell(pixel / sigma_s);
  const double f = pixel / sigma_s + 2.0;
  place.lower = LowerCorner(f, size);
  place.upper = std::min(place.lower + 1, static_cast<uint32_t>(size - 1));
  place.fraction = static_cast<float>(f - place.lower);
  return place;
}

}  // namespace

GridGeometry MakeGridGeometry(int32_t width, int32_t height, double emin, double emax,
                              double sigma_s, double sigma_r) {
  GridGeometry g;
  g.width = width;
  g.height = height;
  g.sigma_s = sigma_s;
  g.sigma_r = sigma_r;
  g.emin = emin;
  g.x_size = CellsAlong(static_cast<uint32_t>(width - 1), sigma_s);
  g.y_size = CellsAlong(static_cast<uint32_t>(height - 1), sigma_s);
  g.z_size = CellsAlong(emax - emin, sigma_r);
  return g;
}

std::vector<AxisPlace> PlaceAxis(int32_t pixels, double sigma_s, int32_t size) {
  std::vector<AxisPlace> places(pixels);
  for (int32_t i = 0; i < pixels; ++i) places[i] = PlaceOnAxis(static_cast<uint32_t>(i), sigma_s, size);
  return places;
}

// The fill cells grow with the pixel column, so each slice's columns are one run.
std::vector<int32_t> FirstColumnOfSlices(const std::vector<AxisPlace>& xs, int32_t x_size) {
  std::vector<int32_t> first(x_size + 1);
  const int32_t width = static_cast<int32_t>(xs.size());
  int32_t px = 0;
  for (int32_t x = 0; x <= x_size; ++x) {
    while (px < width && xs[px].fill < x) ++px;
    first[x] = px;
  }
  return first;
}

}  // namespace vantorel
