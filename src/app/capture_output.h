#pragma once
// The pieces of the offline capture that do not need the App: checking the capture options,
// turning a resolved frame into enlarged RGB and YUV 4:2:0 pictures, the output files (written
// under a temporary name and renamed when complete), and the per-scene summary of frame times.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "config/app_options.h"
#include "render/framebuffer.h"

inline constexpr int kCaptureMaxFps = 240;
inline constexpr int kCaptureMaxScale = 3;

// Where the frames go, decided by the capture path: "-" is a YUV4MPEG2 stream on standard output;
// a name ending in ".y4m", or an existing pipe or device, a YUV4MPEG2 stream written there;
// anything else a directory of numbered PNG frames.
enum class CaptureKind { Y4mStdout, Y4mFile, PngDirectory };

struct CaptureSettings {
  CaptureKind kind = CaptureKind::Y4mFile;
  std::string path;         // frames
  std::string audio_path;   // WAV of the music that drove the frames; empty = none
  std::string report_path;  // CSV of per-frame render times; empty = none
  int fps = 60;             // frames per second of show time, 1..240
  int scale = 1;            // each pixel becomes scale x scale pixels, 1..3
};

// Checks the capture options. On a bad value returns false with a one-line message (no newline).
bool ParseCaptureSettings(const AppOptions& options, CaptureSettings& settings, std::string& error);

// Audio frames (48 kHz) that have played before capture frame `n` at `fps`: n * 48000 / fps,
// rounded down. Consecutive frames differ by 48000 / fps samples, or one more.
std::uint64_t CaptureSampleTarget(std::uint64_t n, int fps);

// The frame's resolved pixels as R, G, B bytes, each pixel repeated `scale` times across and down,
// into `rgb` (resized to width * scale * height * scale * 3).
void ScaleFrameRgb(const Framebuffer& frame, int scale, std::vector<std::uint8_t>& rgb);

// YUV 4:2:0 of an RGB picture with even sides: BT.601 studio range (Y 16..235, Cb/Cr 16..240),
// chroma of each 2 x 2 block averaged and centred on it ("C420jpeg"). Planes Y, Cb, Cr in that
// order into `planes` (resized to width * height * 3 / 2).
void RgbToYuv420(const std::uint8_t* rgb, int width, int height, std::vector<std::uint8_t>& planes);

// "YUV4MPEG2 W<w> H<h> F<fps>:1 Ip A1:1 C420jpeg XCOLORRANGE=LIMITED\n".
std::string Y4mHeader(int width, int height, int fps);

// One output file. Regular files are written under "<path>.partial" and renamed to `path` by
// Commit, so an interrupted or failed capture never leaves a file that looks complete; standard
// output ("-") and existing special files (a pipe, a device) are written directly.
class CaptureFile {
 public:
  CaptureFile() = default;
  ~CaptureFile();  // discards what was not committed
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  bool Open(const std::string& path);
  bool Write(const void* data, std::size_t size);
  bool Close();    // flush and close; the bytes are on disk under the temporary name
  bool Commit();   // Close, then rename into place
  void Discard();  // close and remove the temporary file
  // "Could not save <path>: <reason>" after a failure.
  const std::string& Error() const { return error_; }

 private:
  bool Fail(const char* reason);

  std::FILE* file_ = nullptr;
  bool closed_ = false;  // closed without error, not yet renamed
  std::string path_;
  std::string temp_path_;  // empty when writing directly
  bool owns_file_ = false;  // false for standard output
  std::string error_;
};

// Name of PNG frame `n` inside the capture directory: "frame_000042.png".
std::string CaptureFrameName(std::uint64_t n);

// One captured frame, as the report lists it.
struct CaptureFrameRecord {
  std::uint64_t frame = 0;
  double time = 0;        // show time, seconds (frame / fps)
  float bar = 0;          // the bar clock as the director read it for this frame
  int scene = 0;          // the scene that was drawn
  double render_ms = 0;   // time spent in RenderFrame
};

// Render times of the frames of one scene, in milliseconds.
struct SceneTimeSummary {
  int scene = 0;
  std::size_t frames = 0;
  double median_ms = 0;
  double p99_ms = 0;    // nearest rank: the smallest time that 99 % of the frames do not exceed
  double worst_ms = 0;
};

// Per scene in ascending order, only scenes that have frames.
std::vector<SceneTimeSummary> SummariseCaptureTimes(const std::vector<CaptureFrameRecord>& records);

// The report file's text: a header line "frame,time,bar,scene,render_ms" and one row per frame.
std::string CaptureReportCsv(const std::vector<CaptureFrameRecord>& records);

// The summary printed on standard error at the end: the per-scene table and the worst frame.
std::string CaptureSummaryText(const std::vector<CaptureFrameRecord>& records, double seconds);
