// Backing large images with transparent huge pages.
#pragma once

namespace vantorel {

// Makes every cv::Mat allocated from now on of 4 MiB or more come from mappings with huge
// pages requested, so that a 12-megapixel float image costs a few hundred page faults
// instead of tens of thousands. Released ones stay mapped for the next images, within
// the most the process ever had in use at once. Smaller images keep the library's
// allocator. Process-wide; call once, early, from the program's main.
void UseHugePagesForLargeImages();

}  // namespace vantorel
