// A dark-channel-prior dehazer refined by a guided filter, built only from OpenCV core and
// imgproc calls: what a user would write without Vantorel. It exists to be timed against
// DehazeCPU and is not part of the product.
#ifndef VANTOREL_BENCH_PEER_DEHAZER_H_
#define VANTOREL_BENCH_PEER_DEHAZER_H_

#include <opencv2/core.hpp>

namespace vantorel {

// Dehazes an 8-bit BGR picture and returns an 8-bit BGR picture of the same size.
cv::Mat PeerDehaze(const cv::Mat& bgr8);

}  // namespace vantorel

#endif  // VANTOREL_BENCH_PEER_DEHAZER_H_
