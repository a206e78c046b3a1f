// Vantorel: removes haze and fog from one colour photograph.
// Link with Vantorel::vantorel (CMake: find_package(Vantorel)) or `pkg-config --libs vantorel`.
#pragma once

namespace vantorel {

// Dehazes an interleaved 8-bit BGR picture in place; returns false, touching nothing, when
// an argument is out of range. Library errors (out of memory) are thrown as exceptions and
// leave the picture unchanged.
bool DehazeCPU(unsigned char* data,   // rows x cols pixels of 3 bytes (blue, green, red), rows packed without gaps
               int cols,              // width in pixels, > 0
               int rows,              // height in pixels, > 0
               float haze_thickness); // how hazy the scene is, in (0, 1]; larger removes more haze

// True when DehazeCPU accepts this haze thickness: in (0, 1] (NaN is refused). The one
// statement of the range, for front ends to check before they read a picture.
bool ThicknessAccepted(float haze_thickness);

// How the haze is removed and the tone finished.
enum class Look {
  // The automatic tone curve at full strength on every colour channel, with half of the
  // input's chroma put back: brighter, punchier colours.
  kClassic,
  // Gentler: flat regions (fog, sky) keep at least 0.6 of their luma and pixels brighter
  // than the airlight keep theirs, so smooth gradients do not glow; the result keeps the
  // input's range (a dim photo stays dim); the smoothing sizes follow the picture, so a
  // small copy looks like the full-size photo; the tone curve is faded toward the identity
  // (its weight is thickness / 3) and applied to brightness only.
  kNatural,
};

// What a caller may ask of a dehaze beyond the picture itself. The defaults give exactly
// what the four-argument DehazeCPU gives.
struct DehazeOptions {
  Look look = Look::kClassic;

  // When not null: receives the transmission map the pipeline estimated, rows x cols floats
  // in [0, 1] packed row after row (1 where the scene is clear, towards 0 where haze hides it).
  float* transmission = nullptr;

  // Threads for this call alone, at most 256: a program that dehazes several pictures or
  // frames at once can give each call one thread (larger counts are taken as 256). 0 uses the
  // process's count (ThreadCount()).
  // Results never depend on it.
  int threads = 0;
};

// DehazeCPU with options; the picture's bytes are the same as the four-argument call's.
// Returns false, touching nothing (neither the picture nor options.transmission), when an
// argument is out of range (options.threads below 0 included).
bool DehazeCPU(unsigned char* data, int cols, int rows, float haze_thickness,
               const DehazeOptions& options);

// Dehazes an interleaved 16-bit BGR picture in place (rows x cols pixels of three 16-bit
// samples, blue, green, red, packed without gaps): normalised, measured, tone-adjusted and
// finally smoothed on its 16-bit values, and written back in 16 bits. The same arguments
// are accepted and refused as for DehazeCPU, and an error leaves it unchanged.
// Reduced to 8 bits, the result is within rounding of the 8-bit result of the picture
// reduced to 8 bits first; the extra depth keeps smooth gradients free of steps.
bool Dehaze16CPU(unsigned short* data, int cols, int rows, float haze_thickness,
                 const DehazeOptions& options = DehazeOptions{});

// Only the transmission map of a picture, without dehazing it: the same values as
// DehazeOptions::transmission receives from DehazeCPU in the classic look. Returns false, writing nothing, when an
// argument is out of range.
bool EstimateTransmissionMapCPU(const unsigned char* data,  // rows x cols BGR pixels, packed
                                int cols, int rows, float haze_thickness,
                                float* transmission);        // rows x cols floats, packed
// The same for a 16-bit BGR picture.
bool EstimateTransmissionMap16CPU(const unsigned short* data, int cols, int rows, float haze_thickness,
                                  float* transmission);

// The number of threads each dehaze of this process uses. SetThreadCount(n) with n > 0 fixes
// it (at most 256); 0 returns to the default: VANTOREL_THREADS when it is a whole number
// from 1 to 256, else the machine's cores. Results never depend on it. Safe to call from any thread;
// a dehaze already running keeps the count it started with for its current step. A call's own
// DehazeOptions::threads takes precedence. The threads are started once and kept for the
// process's later calls.
void SetThreadCount(int count);
int ThreadCount();

}  // namespace vantorel
