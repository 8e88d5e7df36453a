// Offline capture: the show rendered headless at a fixed frame rate through the real frame loop,
// with the selected music source rendered block by block in step with the frames, so that frame n
// shows what the window would show after exactly n * 48000 / fps samples of music.

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "app/app.h"
#include "app/capture_output.h"
#include "app/frame_capture.h"
#include "assets/stb_image_write_impl.h"
#include "audio/audio_output.h"
#include "audio/wav_file.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Where the frames go: one YUV4MPEG2 stream, or numbered PNG files in a directory.
class FrameSink {
 public:
  explicit FrameSink(const CaptureSettings& settings) : settings_(settings) {}
  ~FrameSink() {
    if (!committed_) RemoveWritten();
  }

  // Opens the stream, or makes sure the directory exists. False with Error() set.
  bool Open(int width, int height) {
    width_ = width;
    height_ = height;
    if (settings_.kind != CaptureKind::PngDirectory) {
      const std::string header = Y4mHeader(width, height, settings_.fps);
      return (stream_.Open(settings_.path) && stream_.Write(header.data(), header.size())) ||
             Fail(stream_.Error());
    }
    std::error_code ec;
    const std::filesystem::path dir(settings_.path);
    if (std::filesystem::is_directory(dir, ec)) return true;
    if (std::filesystem::exists(dir, ec)) return Fail("Could not save " + settings_.path + ": not a directory");
    if (!std::filesystem::create_directory(dir, ec)) {
      return Fail("Could not save " + settings_.path + ": " + (ec ? ec.message() : "cannot create directory"));
    }
    created_dir_ = true;
    return true;
  }

  bool Write(const Framebuffer& frame) {
    ScaleFrameRgb(frame, settings_.scale, rgb_);
    if (settings_.kind != CaptureKind::PngDirectory) {
      static const char kMarker[] = "FRAME\n";
      RgbToYuv420(rgb_.data(), width_, height_, planes_);
      return (stream_.Write(kMarker, sizeof kMarker - 1) && stream_.Write(planes_.data(), planes_.size())) ||
             Fail(stream_.Error());
    }
    if (!EncodePngRgb8(rgb_.data(), width_, height_, png_)) return Fail("Could not encode a PNG frame");
    const std::string name = (std::filesystem::path(settings_.path) / CaptureFrameName(written_)).string();
    CaptureFile file;
    if (!(file.Open(name) && file.Write(png_.data(), png_.size()) && file.Commit())) return Fail(file.Error());
    written_ += 1;
    return true;
  }

  // Everything written and closed, under the temporary name.
  bool Close() { return settings_.kind == CaptureKind::PngDirectory || stream_.Close() || Fail(stream_.Error()); }

  // Into place; from here on the frames stay.
  bool Commit() {
    if (settings_.kind != CaptureKind::PngDirectory && !stream_.Commit()) return Fail(stream_.Error());
    committed_ = true;
    return true;
  }

  const std::string& Error() const { return error_; }

 private:
  bool Fail(const std::string& message) {
    if (error_.empty()) error_ = message;
    return false;
  }

  // A failed capture leaves nothing behind that could pass for a complete one.
  void RemoveWritten() {
    stream_.Discard();
    std::error_code ec;
    for (std::uint64_t n = 0; n < written_; ++n)
      std::filesystem::remove(std::filesystem::path(settings_.path) / CaptureFrameName(n), ec);
    if (created_dir_) std::filesystem::remove(settings_.path, ec);  // only when empty
  }

  const CaptureSettings& settings_;
  CaptureFile stream_;
  int width_ = 0;
  int height_ = 0;
  std::uint64_t written_ = 0;
  bool created_dir_ = false;
  bool committed_ = false;
  std::string error_;
  std::vector<std::uint8_t> rgb_;
  std::vector<std::uint8_t> planes_;
  std::vector<std::uint8_t> png_;
};

// One line that rewrites itself on a terminal: percentage, bar, speed and time left.
void PrintProgress(std::uint64_t done, std::uint64_t total, float bar, double elapsed) {
  const double fps = elapsed > 0 ? static_cast<double>(done) / elapsed : 0.0;
  const double left = fps > 0 && total > done ? static_cast<double>(total - done) / fps : 0.0;
  const double percent = total > 0 ? 100.0 * static_cast<double>(done) / static_cast<double>(total) : 100.0;
  const int minutes = static_cast<int>(left / 60.0);
  const int seconds = static_cast<int>(left) % 60;
  std::fprintf(stderr, "\rcapture %5.1f%%  bar %7.2f  %6.1f fps  %d:%02d left   ", std::min(percent, 100.0),
               static_cast<double>(bar), fps, minutes, seconds);
  std::fflush(stderr);
}

}  // namespace

int App::RunCapture() {
  CaptureSettings settings;
  std::string error;
  if (!ParseCaptureSettings(options, settings, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const int width = static_cast<int>(frame.width) * settings.scale;
  const int height = static_cast<int>(frame.height) * settings.scale;

  // 1. Outputs first, so that a path that cannot be written fails before any rendering.
  FrameSink frames(settings);
  CaptureFile wav_file;
  CaptureFile report_file;
  if (!frames.Open(width, height)) error = frames.Error();
  if (error.empty() && !settings.audio_path.empty() && !wav_file.Open(settings.audio_path)) error = wav_file.Error();
  if (error.empty() && !settings.report_path.empty() && !report_file.Open(settings.report_path))
    error = report_file.Error();
  if (!error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }

  // 2. Length. The show ends with the director's finale, which a playing source reaches by itself;
  //    a silent clock stands still, so without --frames such a capture lasts as long as the show
  //    would from the start bar.
  const double spb = static_cast<double>(SecondsPerBar(options.audio_bpm));
  const double start_bar = std::clamp(static_cast<double>(options.bar_offset), 0.0,
                                      static_cast<double>(FinaleEnd(options.audio_bpm)));
  const double show_seconds = (static_cast<double>(FinaleEnd(options.audio_bpm)) - start_bar) * spb;
  const auto show_frames = static_cast<std::uint64_t>(std::ceil(show_seconds * settings.fps)) + 2;
  const std::uint64_t limit = options.frames != 0 ? options.frames : show_frames;
  const std::uint64_t expected = std::min(limit, show_frames);

  // 3. Frame by frame: music up to this frame, finale, render, write.
  const bool want_wav = !settings.audio_path.empty();
  const bool progress = isatty(fileno(stderr)) != 0;
  std::vector<float> block(static_cast<std::size_t>(kAudioDefaultPeriodFrames) * kAudioChannels);
  std::vector<std::uint8_t> pcm;
  std::vector<CaptureFrameRecord> records;
  records.reserve(expected);
  std::uint64_t samples_done = 0;
  const auto render_music_to = [&](std::uint64_t target) {
    while (samples_done < target) {
      const auto count = static_cast<std::uint32_t>(
          std::min<std::uint64_t>(kAudioDefaultPeriodFrames, target - samples_done));
      RenderMusicOffline(block.data(), count);
      if (want_wav) AppendPcm16(block.data(), static_cast<std::size_t>(count) * kAudioChannels, pcm);
      samples_done += count;
    }
  };

  const Clock::time_point t0 = Clock::now();
  Clock::time_point last_progress = t0;
  bool ok = true;
  std::uint64_t n = 0;
  for (; n < limit; ++n) {
    capture_clock = static_cast<double>(n) / settings.fps;
    render_music_to(CaptureSampleTarget(n, settings.fps));

    DirectorView().UpdateFinale();
    if (director_state.finished) break;  // the show is over: the window would go black here

    const float bar = DirectorView().ClockBar();
    const double t = DirectorView().FrameTime(capture_clock);
    const Clock::time_point r0 = Clock::now();
    RenderFrame(static_cast<float>(t));
    const double render_ms = 1000.0 * Seconds(Clock::now() - r0);
    frame_count += 1;
    records.push_back({n, capture_clock, bar, previous_scene, render_ms});

    if (!frames.Write(frame)) {
      ok = false;
      error = frames.Error();
      break;
    }
    const Clock::time_point now = Clock::now();
    if (progress && Seconds(now - last_progress) >= 0.1) {
      last_progress = now;
      PrintProgress(n + 1, expected, bar, Seconds(now - t0));
    }
  }
  const std::uint64_t captured = records.size();
  render_music_to(CaptureSampleTarget(captured, settings.fps));
  const double elapsed = Seconds(Clock::now() - t0);
  if (progress) {
    PrintProgress(captured, captured, records.empty() ? 0.0f : records.back().bar, elapsed);
    std::fputc('\n', stderr);
  }

  // 4. Write and close every output under its temporary name, then put them all in place: a
  //    failure anywhere names its file and leaves none of the outputs behind.
  if (ok && want_wav) {
    const std::uint64_t wav_frames = samples_done;
    if (wav_frames > kWavMaxFrames) {
      ok = false;
      error = "Could not save " + settings.audio_path + ": too long for a WAV file";
    } else {
      const std::vector<std::uint8_t> header = WavHeader(static_cast<std::uint32_t>(wav_frames));
      ok = wav_file.Write(header.data(), header.size()) && wav_file.Write(pcm.data(), pcm.size()) &&
           wav_file.Close();
      if (!ok) error = wav_file.Error();
    }
  }
  if (ok && !settings.report_path.empty()) {
    const std::string csv = CaptureReportCsv(records);
    ok = report_file.Write(csv.data(), csv.size()) && report_file.Close();
    if (!ok) error = report_file.Error();
  }
  if (ok && !frames.Close()) {
    ok = false;
    error = frames.Error();
  }
  if (ok && want_wav && !wav_file.Commit()) {
    ok = false;
    error = wav_file.Error();
  }
  if (ok && !settings.report_path.empty() && !report_file.Commit()) {
    ok = false;
    error = report_file.Error();
  }
  if (ok && !frames.Commit()) {
    ok = false;
    error = frames.Error();
  }
  if (!ok) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;  // the outputs not yet in place remove their files as they go out of scope
  }

  if (!options.save_path.empty() && captured > 0 && !WritePpm(frame, options.save_path))
    std::fprintf(stderr, "Could not save %s\n", options.save_path.c_str());
  if (!settings.report_path.empty()) std::fputs(CaptureSummaryText(records, elapsed).c_str(), stderr);
  return 0;
}
