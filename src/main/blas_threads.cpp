#include "main/blas_threads.h"

#include <dlfcn.h>

namespace vantorel {

// OpenBLAS's own shutdown of its threads (it runs it before fork() and at exit); were BLAS
// called later, it would start them again.
void StopBlasThreads() {
  using Shutdown = int (*)();
  if (const auto shutdown = reinterpret_cast<Shutdown>(dlsym(RTLD_DEFAULT, "blas_thread_shutdown_"))) shutdown();
}

}  // namespace vantorel
