// Dehazes one picture file through the installed Vantorel library.
//   dehaze_file hazy.jpg clear.png [haze_thickness]
// Build: see CMakeLists.txt beside this file, or
//   c++ -std=c++17 dehaze_file.cpp $(pkg-config --cflags --libs vantorel) \
//       -I/usr/include/opencv4 -lopencv_imgcodecs -o dehaze_file
#include <cstdio>
#include <cstdlib>

#include <opencv2/imgcodecs.hpp>
#include <vantorel/dehaze.h>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: dehaze_file hazy_image clear_image [haze_thickness]\n");
    return 2;
  }
  const float haze_thickness = argc > 3 ? std::strtof(argv[3], nullptr) : 1.0f;

  // 3-channel 8-bit BGR in one packed buffer, as DehazeCPU expects.
  cv::Mat picture = cv::imread(argv[1], cv::IMREAD_COLOR);
  if (picture.empty()) {
    std::fprintf(stderr, "dehaze_file: cannot read %s\n", argv[1]);
    return 1;
  }
  if (!vantorel::DehazeCPU(picture.data, picture.cols, picture.rows, haze_thickness)) {
    std::fprintf(stderr, "dehaze_file: haze_thickness must lie in (0, 1]\n");
    return 1;
  }
  if (!cv::imwrite(argv[2], picture)) {
    std::fprintf(stderr, "dehaze_file: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
