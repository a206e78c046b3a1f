// The eight corner weights of a trilinear sample, in single precision. Shared by the
// reference core and the streaming core so that both round identically.
#pragma once

namespace vantorel {

// Order: 000, 100, 010, 110, 001, 101, 011, 111 (digits x, y, z; 1 = upper corner).
// The (x, y) factor is formed first, then multiplied by the z factor.
__attribute__((always_inline)) inline void TrilinearWeights(float dx, float dy, float dz, float (&w)[8]) {
  w[0] = (1 - dz) * ((1 - dy) * (1 - dx));
  w[1] = (1 - dz) * ((1 - dy) * dx);
  w[2] = (1 - dz) * ((1 - dx) * dy);
  w[3] = (1 - dz) * (dy * dx);
  w[4] = ((1 - dy) * (1 - dx)) * dz;
  w[5] = ((1 - dy) * dx) * dz;
  w[6] = ((1 - dx) * dy) * dz;
  w[7] = (dy * dx) * dz;
}

}  // namespace vantorel
