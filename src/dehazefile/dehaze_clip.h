// "Dehaze this clip into that one": the clip counterpart of DehazeFile, for every front end.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dehazefile/clip_options.h"
#include "dehazefile/dehaze_file.h"

namespace vantorel {

// Whether a source is a clip: its extension is one of ClipExtensions(), or libavformat finds
// in it a video stream that is not a still picture. A file with a clip's extension that
// cannot be read as one is reported by DehazeClipFile with the reason.
bool IsClipFile(const std::string& path);

// The extensions a folder scan takes as clips (lower case, with the dot).
const std::vector<std::string>& ClipExtensions();

// Whether a file name ends in one of ClipExtensions(), in any case.
bool HasClipExtension(const std::string& name);

// "" when a clip's result can be written at `result` with these options (container from
// options.video_format or the result's extension, and the codec), else the one-line reason.
std::string CheckClipResult(const std::string& result, const ClipOptions& options);

// Called after every frame written: frames done, and the number the source announces (0 when
// unknown).
using ClipProgress = std::function<void(int64_t done, int64_t expected)>;

// Reads the clip, dehazes its frames with a VideoDehazer (the window from options), encodes
// them as the options ask (the container from options.video_format, else the result's
// extension), copies the other streams, and replaces the result in one step at the end
// (kWriteProtected and kNoSpace as for DehazeFile). Never throws. The outcome's `seconds` is the whole run's time; its note tells of damaged
// frames left out and of streams the container cannot hold.
//   stop  when not null and set: the run ends early, writing nothing (kFailed, "stopped")
Outcome DehazeClipFile(const std::string& source, const std::string& result, float thickness,
                       const ClipOptions& options, bool force = false, Look look = Look::kClassic,
                       const ClipProgress& progress = {}, const std::atomic<bool>* stop = nullptr);

}  // namespace vantorel
