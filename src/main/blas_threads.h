// The BLAS library's threads, which this tool never uses.
#pragma once

namespace vantorel {

// OpenBLAS, which the image library loads, starts a pool of threads as it loads (one less
// than the cores) that spin for about a tenth of a second before they sleep: at the start
// of a run they take cores from the dehaze's own threads, and about 30 ms of processor
// time from every run. This tool never calls BLAS, so it stops them as it starts. Its
// environment cannot ask for one thread instead: the C library sets up the environment
// again before any library is initialised. Nothing happens where the BLAS is another one.
void StopBlasThreads();

}  // namespace vantorel
