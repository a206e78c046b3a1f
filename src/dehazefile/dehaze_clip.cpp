// A clip in three stages that overlap: a thread reads and decodes, the calling thread
// dehazes, a thread encodes and writes. A few frame buffers go round between them, so
// nothing of frame size is allocated per frame once the clip runs; the other streams'
// packets travel with the frames, in the file's order.
#include "dehazefile/dehaze_clip.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <exception>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "dehazefile/clip_option_table.h"
#include "dehazefile/library_errors.h"
#include "video/clip_reader.h"
#include "video/clip_writer.h"
#include "video/frame_queue.h"
#include "vantorel/video_dehazer.h"

namespace vantorel {

namespace {

// Frames in flight: one being read, one dehazed, one encoded, one waiting.
constexpr int kFrameBuffers = 4;

// The first failure of any stage, which stops the others.
class Failure {
 public:
  void Set(const std::string& error) {
    std::lock_guard<std::mutex> hold(lock_);
    if (error_.empty()) error_ = error;
  }
  std::string Get() {
    std::lock_guard<std::mutex> hold(lock_);
    return error_;
  }

 private:
  std::mutex lock_;
  std::string error_;
};

// Runs `stage`, turning what it throws into a failure.
template <typename Stage>
void Guarded(Failure& failure, Stage stage) {
  try {
    stage();
  } catch (const std::bad_alloc&) {
    failure.Set("out of memory");
  } catch (const std::exception& e) {
    failure.Set(std::string("error: ") + e.what());
  }
}

bool ChooseEncoding(const std::string& result, const ClipOptions& options, VideoEncoding& encoding,
                    std::string& error) {
  encoding.container = options.video_format.empty() ? ContainerOfExtension(FileExtension(result)) : options.video_format;
  if (encoding.container.empty()) {
    error = "a clip's result is written as .mp4, .mkv, .mov or .webm (or give --video-format)";
    return false;
  }
  encoding.codec = options.video_codec.empty() ? DefaultVideoCodec(encoding.container) : options.video_codec;
  encoding.crf = options.crf;
  encoding.preset = options.preset;
  error = CheckContainerAndCodec(encoding.container, encoding.codec);
  return error.empty();
}

struct Run {
  ClipReader reader;
  ClipWriter writer;
  BoundedQueue<ClipItem> decoded{kFrameBuffers}, dehazed{kFrameBuffers};
  BoundedQueue<std::vector<unsigned char>*> spare{kFrameBuffers};
  std::vector<unsigned char> buffers[kFrameBuffers];
  Failure failure;
  int64_t frames = 0;

  void StopAll() {
    decoded.Close();
    dehazed.Close();
    spare.Close();
  }

  void Read() {
    Guarded(failure, [&] {
      std::vector<unsigned char>* buffer = nullptr;
      std::string error;
      for (;;) {
        if (buffer == nullptr && !spare.Pop(buffer)) break;
        ClipItem item;
        if (!reader.Next(*buffer, item, error)) break;
        if (item.kind == ClipItem::Kind::kFrame) buffer = nullptr;
        if (!decoded.Push(std::move(item))) break;
      }
      if (!error.empty()) failure.Set(error);
    });
    decoded.Close();
  }

  void Write(const ClipProgress& progress, int64_t expected) {
    Guarded(failure, [&] {
      ClipItem item;
      std::string error;
      while (dehazed.Pop(item)) {
        const bool written = item.kind == ClipItem::Kind::kFrame
                                 ? writer.WriteFrame(item.bgr->data(), item.pts, item.duration, error)
                                 : writer.WritePacket(item.packet.get(), error);
        if (!written) {
          failure.Set(error);
          break;
        }
        if (item.kind == ClipItem::Kind::kFrame) {
          spare.Push(item.bgr);
          ++frames;
          if (progress) progress(frames, expected);
        }
      }
    });
    StopAll();
  }
};

// A failure to write the result, with the status its kind calls for.
void WriteFailed(const std::string& result, const FileError& error, Outcome& outcome) {
  switch (error.kind) {
    case FileError::Kind::kWriteProtected: outcome.status = Outcome::Status::kWriteProtected; break;
    case FileError::Kind::kNoSpace: outcome.status = Outcome::Status::kNoSpace; break;
    default: outcome.status = Outcome::Status::kFailed; break;
  }
  outcome.error = result + ": cannot write the result: " + error.message;
}

void DehazeOpenClip(Run& run, const std::string& source, const std::string& result, float thickness,
                    const ClipOptions& options, const VideoEncoding& encoding, bool force, Look look,
                    const ClipProgress& progress, const std::atomic<bool>* stop, Outcome& outcome) {
  std::string error;
  PendingFile file;
  FileError file_error;
  if (!BeginAtomicFile(result, force, file, file_error)) {
    WriteFailed(result, file_error, outcome);
    return;
  }
  std::string note;
  if (!run.writer.Open(file.temp_path, run.reader, encoding, note, error)) {
    AbandonAtomicFile(file);
    outcome.error = result + ": " + error;
    return;
  }
  for (auto& buffer : run.buffers) run.spare.Push(&buffer);

  const AVRational time_base = run.reader.VideoStream()->time_base;
  const AVRational rate = av_guess_frame_rate(const_cast<AVFormatContext*>(run.reader.Format()),
                                              const_cast<AVStream*>(run.reader.VideoStream()), nullptr);
  const double fps = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 30.0;
  VideoDehazer dehazer(thickness, look, options.temporal_window, fps);

  std::thread reading([&] { run.Read(); });
  std::thread writing([&] { run.Write(progress, run.reader.ExpectedFrames()); });
  Guarded(run.failure, [&] {
    ClipItem item;
    while (run.decoded.Pop(item)) {
      if (stop != nullptr && stop->load()) {
        run.failure.Set("stopped");
        break;
      }
      if (item.kind == ClipItem::Kind::kFrame &&
          !dehazer.Process(item.bgr->data(), run.reader.Cols(), run.reader.Rows(),
                           static_cast<double>(item.pts) * av_q2d(time_base))) {
        run.failure.Set("the frame was refused by the dehazer");
        break;
      }
      if (!run.dehazed.Push(std::move(item))) break;
    }
  });
  // Whatever ended the loop, the writer finishes what it was given; a failure stops all.
  if (!run.failure.Get().empty()) run.StopAll();
  run.dehazed.Close();
  reading.join();
  writing.join();

  std::string failure = run.failure.Get();
  if (failure.empty() && run.frames == 0) failure = "no frame could be decoded";
  if (failure.empty() && !run.writer.Finish(error)) failure = result + ": " + error;
  if (failure.empty() && !FinishAtomicFile(file, file_error)) {
    WriteFailed(result, file_error, outcome);
    return;
  }
  if (!failure.empty()) {
    AbandonAtomicFile(file);
    outcome.error = failure.find(result + ": ") == 0 ? failure : source + ": " + failure;
    return;
  }
  if (run.reader.Damaged() > 0) {
    const std::string damaged = source + ": " + std::to_string(run.reader.Damaged()) +
                                " damaged frame" + (run.reader.Damaged() > 1 ? "s" : "") + " left out";
    note = note.empty() ? damaged : damaged + "; " + note;
  }
  outcome.note = note;
  outcome.status = Outcome::Status::kWritten;
}

}  // namespace

std::string CheckClipResult(const std::string& result, const ClipOptions& options) {
  VideoEncoding encoding;
  std::string error;
  if (CheckClipOptions(options, error)) ChooseEncoding(result, options, encoding, error);
  return error;
}

bool IsClipFile(const std::string& path) {
  std::string extension = FileExtension(path);
  std::transform(extension.begin(), extension.end(), extension.begin(), [](unsigned char c) { return std::tolower(c); });
  const std::vector<std::string>& clips = ClipExtensions();
  return std::find(clips.begin(), clips.end(), extension) != clips.end() || LooksLikeClip(path);
}

const std::vector<std::string>& ClipExtensions() {
  static const std::vector<std::string> extensions = {".mp4", ".m4v", ".mov", ".mkv", ".webm", ".avi", ".mts", ".m2ts", ".ts"};
  return extensions;
}

Outcome DehazeClipFile(const std::string& source, const std::string& result, float thickness,
                       const ClipOptions& options, bool force, Look look, const ClipProgress& progress,
                       const std::atomic<bool>* stop) {
  Outcome outcome;
  const auto start = std::chrono::steady_clock::now();
  FailOnLibraryErrors(source, outcome, [&] {
    std::string error;
    VideoEncoding encoding;
    if (CheckClipOptions(options, error) && !ChooseEncoding(result, options, encoding, error)) {
      error = result + ": " + error;
    }
    if (!error.empty()) {
      outcome.error = error;
      return;
    }
    Run run;
    if (!run.reader.Open(source, error)) {
      outcome.error = source + ": " + error;
      return;
    }
    outcome.cols = run.reader.Cols();
    outcome.rows = run.reader.Rows();
    // The engine's peak and the frames in flight.
    if (!PipelineFitsInMemory(outcome.cols, outcome.rows, error, 3 * (kFrameBuffers + 2))) {
      outcome.error = source + ": " + error;
      return;
    }
    if (BelowDehazeThreshold(thickness)) {
      outcome.status = Outcome::Status::kNothingToDo;
      return;
    }
    DehazeOpenClip(run, source, result, thickness, options, encoding, force, look, progress, stop, outcome);
  });
  if (outcome.status == Outcome::Status::kWritten) {
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  return outcome;
}

}  // namespace vantorel
