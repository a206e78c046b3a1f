#include "imagedehaze/edge_filters.h"

namespace vantorel {

const EdgeFilters& LibraryEdgeFilters() {
  static const EdgeFilters filters{JointBilateralCPU, BilateralChannelInBandsCPU, Bilateral8UC3CPU,
                                    Bilateral16UC3CPU};
  return filters;
}

}  // namespace vantorel
