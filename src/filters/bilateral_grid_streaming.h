// The filter core computed slice by slice along x, touching only the cells that can be
// non-zero. Bit for bit the same result as the reference BilateralGridReferenceCPU.
#pragma once

#include "filters/work_matrix.h"

namespace vantorel {

// Same contract as BilateralGridCPU. Uses up to WorkerCount() threads; the result does
// not depend on the thread count.
void BilateralGridStreamingCPU(const WorkMatrix& input, const WorkMatrix& edge, double sigma_s,
                               double sigma_r, WorkMatrix& result);

}  // namespace vantorel
