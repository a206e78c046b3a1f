// The dehazing pipeline's single entry point, `DehazeCPU`, is declared in the public
// header that is installed for library users; the pipeline's code includes it from here.
#pragma once

#include "vantorel/dehaze.h"
