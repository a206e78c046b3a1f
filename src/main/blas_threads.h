// The BLAS library's threads, which this tool never uses.
#pragma once

namespace vantorel {

// OpenBLAS, which the image library loads, starts a pool of threads as it loads (one less
// than the cores) that spin for about a tenth of a second before they sleep: at the start
// of a run they take cores from the dehaze's own threads, and about 30 ms of processor
// time from every run. This tool never calls BLAS, so it stops them as it starts. Asking
// for one thread through OPENBLAS_NUM_THREADS would have to come before the libraries are
// initialised, which the program itself cannot do: set from its earliest initialiser (a
// pre-initialiser), the variable did not reach OpenBLAS. Nothing happens where the BLAS is
// another one.
void StopBlasThreads();

}  // namespace vantorel
