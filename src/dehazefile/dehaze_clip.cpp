// A clip in three stages that overlap: a thread reads and decodes, two threads dehaze (the
// calling thread and one more; one frame each, one core each), a thread encodes and
// writes. A few frame buffers go round between them, and each dehazing thread keeps its
// working images, so nothing of frame size is allocated per frame once the clip runs; the
// other streams' packets travel with the frames, in the file's order.
#include "dehazefile/dehaze_clip.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "dehazefile/clip_option_table.h"
#include "dehazefile/extension_names.h"
#include "dehazefile/library_errors.h"
#include "dehazefile/memory_budget.h"
#include "imagedehaze/frame_sequence.h"
#include "video/clip_reader.h"
#include "video/clip_writer.h"
#include "video/frame_queue.h"
#include "video/in_order_queue.h"
#include "vantorel/dehaze.h"

namespace vantorel {

namespace {

// Frames in flight: one being read, one dehazed on each dehazing thread, one encoded, one
// waiting.
constexpr int kFrameBuffers = 5;

// Frames dehazed at once: two, one thread each, when the process has two threads or more
// (half of them each on larger machines) and memory for two pipelines; else one with all.
constexpr int kMostEngines = 2;

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
  std::string error;
  if (!CatchLibraryErrors(stage, error)) failure.Set(error);
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
  BoundedQueue<ClipItem> decoded{kFrameBuffers};
  BoundedQueue<std::vector<unsigned char>*> spare{kFrameBuffers};
  std::vector<unsigned char> buffers[kFrameBuffers];
  Failure failure;
  int64_t frames = 0;
  // The dehazing threads take the items in the file's order, numbering them (and the frames
  // among them) as they do; the writer takes them in the same order.
  std::mutex taking;
  int64_t items_taken = 0, frames_taken = 0;
  InOrderQueue<ClipItem> dehazed;

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

  // One dehazing thread: takes the next item, dehazes it if it is a frame, and hands it on
  // to be written in its turn. Every frame number taken is dehazed (or fails), so the frames after it
  // never wait for a frame that does not come. A failure stops the run.
  void Dehaze(FrameSequence& sequence, int threads, const std::atomic<bool>* stop) {
    const double time_base = av_q2d(reader.VideoStream()->time_base);
    Guarded(failure, [&] {
      for (;;) {
        ClipItem item;
        int64_t number = 0, frame = -1;
        {
          std::lock_guard<std::mutex> hold(taking);
          if (stop != nullptr && stop->load()) {
            failure.Set("stopped");
            break;
          }
          if (!decoded.Pop(item)) break;
          number = items_taken++;
          if (item.kind == ClipItem::Kind::kFrame) frame = frames_taken++;
        }
        if (frame >= 0 && !sequence.Dehaze(frame, item.bgr->data(), reader.Cols(), reader.Rows(),
                                           static_cast<double>(item.pts) * time_base, threads)) {
          failure.Set("the frame was refused by the dehazer");
          break;
        }
        if (!dehazed.Put(number, std::move(item))) break;
      }
    });
    if (!failure.Get().empty()) StopAll();
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
                    const ClipOptions& options, const VideoEncoding& encoding, bool force, Look look, int engines,
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

  const AVRational rate = av_guess_frame_rate(const_cast<AVFormatContext*>(run.reader.Format()),
                                              const_cast<AVStream*>(run.reader.VideoStream()), nullptr);
  const double fps = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 30.0;
  FrameSequence sequence(thickness, look, options.temporal_window, fps);
  // Each frame's call gets its share of the process's threads.
  const int threads = engines > 1 ? std::max(1, ThreadCount() / engines) : 0;

  std::thread reading([&] { run.Read(); });
  std::thread writing([&] { run.Write(progress, run.reader.ExpectedFrames()); });
  std::vector<std::thread> dehazing;
  try {
    for (int e = 1; e < engines; ++e) dehazing.emplace_back([&] { run.Dehaze(sequence, threads, stop); });
  } catch (const std::system_error&) {
    // No thread to be had: the calling thread dehazes every frame, only more slowly.
  }
  run.Dehaze(sequence, threads, stop);
  for (std::thread& thread : dehazing) thread.join();
  // Whatever ended the dehazing, the writer finishes what it was given; a failure stopped all.
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
    const std::string damaged = std::to_string(run.reader.Damaged()) + " damaged frame" +
                                (run.reader.Damaged() > 1 ? "s" : "") + " left out";
    note = note.empty() ? damaged : damaged + "; " + note;
  }
  // Named, so that a batch's notes say which clip they are about.
  outcome.note = note.empty() ? note : source + ": " + note;
  outcome.status = Outcome::Status::kWritten;
}

}  // namespace

std::string CheckClipResult(const std::string& result, const ClipOptions& options) {
  VideoEncoding encoding;
  std::string error;
  if (CheckClipOptions(options, error)) ChooseEncoding(result, options, encoding, error);
  return error;
}

bool IsClipFile(const std::string& path) { return HasClipExtension(path) || LooksLikeClip(path); }

bool HasClipExtension(const std::string& name) {
  const std::string extension = Lowercase(FileExtension(name));
  const std::vector<std::string>& clips = ClipExtensions();
  return std::find(clips.begin(), clips.end(), extension) != clips.end();
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
    // The engine's peak and the frames in flight; a second engine only where it fits too.
    const int frame_bytes = 3 * (kFrameBuffers + 2);
    if (!PipelineFitsInMemory(outcome.cols, outcome.rows, error, frame_bytes)) {
      outcome.error = source + ": " + error;
      return;
    }
    int engines = std::min(kMostEngines, ThreadCount());
    std::string ignored;
    while (engines > 1 && !PipelineFitsInMemory(outcome.cols, outcome.rows, ignored,
                                                frame_bytes + (engines - 1) * kPipelineBytesPerPixel)) {
      --engines;
    }
    if (BelowDehazeThreshold(thickness)) {
      outcome.status = Outcome::Status::kNothingToDo;
      return;
    }
    DehazeOpenClip(run, source, result, thickness, options, encoding, force, look, engines, progress, stop, outcome);
  });
  if (outcome.status == Outcome::Status::kWritten) {
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
  return outcome;
}

}  // namespace vantorel
