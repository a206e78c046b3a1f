#include "imagedehaze/edge_filters.h"

#include "filters/bilateral_filters.h"

namespace vantorel {

const EdgeFilters& LibraryEdgeFilters() {
  static const EdgeFilters filters{JointBilateralCPU, BilateralChannelCPU, Bilateral8UC3CPU};
  return filters;
}

}  // namespace vantorel
