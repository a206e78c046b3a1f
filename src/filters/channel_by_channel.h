// The three-channel filters of bytes and of 16-bit samples: each channel of the source
// smoothed by its own edges. Into another matrix, the three channels' tasks run in one
// parallel loop and write straight into it; in place, one channel at a time through a
// plane.
#pragma once

#include <algorithm>
#include <array>

#include <opencv2/core.hpp>

#include "filters/grid_stream.h"
#include "filters/image_channels.h"
#include "filters/output_matrix.h"
#include "filters/parallel_for.h"

namespace vantorel {

// cv::insertChannel over bands of rows in parallel: a plain copy of samples.
inline void InsertChannelInBands(const cv::Mat& plane, cv::Mat& target, int k) {
  ParallelForRowBands(plane.rows, RowsPerTask(plane.cols), [&](int first, int end) {
    cv::Mat target_band = target.rowRange(first, end);
    cv::insertChannel(plane.rowRange(first, end), target_band, k);
  });
}

template <typename Channel, typename Sink>
void FilterChannelByChannel(const cv::Mat& source, cv::Mat& output, int type, int plane_type,
                            double sigma_s, double sigma_r) {
  const int rows = source.rows;
  const int cols = source.cols;
  if (!SharesMemory(output, source)) {
    PrepareOutput(output, rows, cols, type);
    const Channel c0(source, 0), c1(source, 1), c2(source, 2);
    const std::array<ChannelSource<Channel>, 3> sources = {
        ChannelSource<Channel>{c0, c0, cols, rows}, ChannelSource<Channel>{c1, c1, cols, rows},
        ChannelSource<Channel>{c2, c2, cols, rows}};
    const std::array<Sink, 3> sinks = {Sink(output, 3, 0), Sink(output, 3, 1), Sink(output, 3, 2)};
    StreamBilateralGrids(sources, sinks, cols, rows, sigma_s, sigma_r);
    return;
  }
  // In place: channel k is read until its last task ends, so its result waits in a plane.
  // The other channels are not touched by writing channel k.
  cv::Mat target = output;
  PrepareOutput(target, rows, cols, type);
  cv::Mat plane(rows, cols, plane_type);
  for (int k = 0; k < 3; ++k) {
    const Channel channel = Channel(source, k);
    StreamBilateralGrid(ChannelSource<Channel>{channel, channel, cols, rows}, Sink(plane, 1, 0),
                        cols, rows, sigma_s, sigma_r);
    InsertChannelInBands(plane, target, k);
  }
  output = target;
}

}  // namespace vantorel
