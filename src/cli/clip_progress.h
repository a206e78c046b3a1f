// What the single form tells the user while a clip runs: on a terminal one line on standard
// error redrawn in place (frames done of all, frames per second, time left); otherwise
// nothing until the end. Nothing with --quiet.
#pragma once

#include "dehazefile/dehaze_clip.h"

namespace vantorel {

ClipProgress ClipProgressLine(bool quiet);

// The closing line after a clip was written: frames, time and rate; ends the redrawn line.
void ClipSummaryLine(bool quiet, double seconds);

}  // namespace vantorel
