// Where each pixel's edge value goes along z. In general that is worked out per pixel.
// A source whose edges take only a few values (bytes: 256) says so with kEdgeLevels and
// offers EdgeLevel(x, y) and EdgeOfLevel(level); the places are then worked out once per
// level, from the same edge value with the same expressions, and looked up per pixel,
// which saves a division per pixel on the fill and another on the read-back.
#pragma once

#include <cstdint>
#include <type_traits>
#include <vector>

#include "filters/grid_stream_parts.h"

namespace vantorel {

template <typename Source, typename = void>
struct EdgeLevelCount : std::integral_constant<int, 0> {};
template <typename Source>
struct EdgeLevelCount<Source, std::void_t<decltype(Source::kEdgeLevels)>>
    : std::integral_constant<int, Source::kEdgeLevels> {};

// The place of every edge level; empty for sources without levels. Levels outside
// [emin, emax] occur in no pixel (and their places need not be defined): left default.
template <typename Source>
std::vector<AxisPlace> PlacesOfEdgeLevels(const Source& source, const GridGeometry& g, double emax) {
  std::vector<AxisPlace> places;
  if constexpr (EdgeLevelCount<Source>::value > 0) {
    places.resize(EdgeLevelCount<Source>::value);
    for (int level = 0; level < EdgeLevelCount<Source>::value; ++level) {
      const double edge = source.EdgeOfLevel(level);
      if (edge >= g.emin && edge <= emax) places[level] = PlaceOnZ(edge, g);
    }
  }
  return places;
}

// What a pixel of a given level adds to the grid when its value is its edge: the value,
// and the z cell it goes into.
struct LevelFill {
  double value = 0.0;
  int32_t cell = 0;
};

// Per edge level (sources with levels only; empty for others), from the places above.
template <typename Source>
std::vector<LevelFill> FillsOfEdgeLevels(const Source& source, const std::vector<AxisPlace>& by_level) {
  std::vector<LevelFill> fills(by_level.size());
  if constexpr (EdgeLevelCount<Source>::value > 0) {
    for (size_t level = 0; level < by_level.size(); ++level) {
      fills[level] = {source.EdgeOfLevel(static_cast<int>(level)), by_level[level].fill};
    }
  }
  return fills;
}

// Small and copyable, so that hot loops can hold it in locals.
template <typename Source>
class ZPlacer {
 public:
  // `by_level` comes from PlacesOfEdgeLevels and must outlive the placer.
  ZPlacer(const GridGeometry& g, const std::vector<AxisPlace>& by_level)
      : g_(g), by_level_(by_level.data()) {}

  // The places of the edge levels (sources with levels only).
  const AxisPlace* ByLevel() const { return by_level_; }

  AxisPlace At(const Source& source, int32_t x, int32_t y) const {
    if constexpr (EdgeLevelCount<Source>::value > 0) {
      return by_level_[source.EdgeLevel(x, y)];
    } else {
      return PlaceOnZ(source.Edge(x, y), g_);
    }
  }

 private:
  GridGeometry g_;
  const AxisPlace* by_level_;
};

}  // namespace vantorel
