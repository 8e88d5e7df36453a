#include "app/capture_output.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "audio/audio_output.h"

namespace {

// A whole number from `text` with nothing else around it; false for anything else.
bool ReadWholeNumber(const std::string& text, long& value) {
  if (text.empty() || text.size() > 9) return false;
  long parsed = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    parsed = parsed * 10 + (c - '0');
  }
  value = parsed;
  return true;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// BT.601 studio range in 16.16 fixed point: Y = 16 + (65.481 R + 128.553 G + 24.966 B) / 255,
// Cb = 128 + (-37.797 R - 74.203 G + 112 B) / 255, Cr = 128 + (112 R - 93.786 G - 18.214 B) / 255,
// each coefficient times 65536 / 255, rounded so that each chroma row sums to 0 (grey stays 128).
constexpr int kYr = 16829, kYg = 33039, kYb = 6416;
constexpr int kCbR = -9714, kCbG = -19070, kCbB = 28784;
constexpr int kCrR = 28784, kCrG = -24103, kCrB = -4681;

std::uint8_t LumaOf(int r, int g, int b) {
  return static_cast<std::uint8_t>(((kYr * r + kYg * g + kYb * b + (1 << 15)) >> 16) + 16);
}

// From sums of four pixels: two more bits of shift.
std::uint8_t ChromaOf4(int kr, int kg, int kb, int r4, int g4, int b4) {
  return static_cast<std::uint8_t>(((kr * r4 + kg * g4 + kb * b4 + (1 << 17)) >> 18) + 128);
}

}  // namespace

bool ParseCaptureSettings(const AppOptions& options, CaptureSettings& settings, std::string& error) {
  long fps = 0;
  if (!ReadWholeNumber(options.capture_fps, fps) || fps < 1 || fps > kCaptureMaxFps) {
    error = "Invalid --capture-fps " + options.capture_fps + ": a whole number from 1 to 240 is needed";
    return false;
  }
  long scale = 0;
  if (!ReadWholeNumber(options.capture_scale, scale) || scale < 1 || scale > kCaptureMaxScale) {
    error = "Invalid --capture-scale " + options.capture_scale + ": 1, 2 or 3 is needed";
    return false;
  }
  settings.path = options.capture_path;
  settings.audio_path = options.capture_audio_path;
  settings.report_path = options.capture_report_path;
  settings.fps = static_cast<int>(fps);
  settings.scale = static_cast<int>(scale);
  struct stat info {};
  const bool special = ::stat(settings.path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode);
  if (settings.path == "-") {
    settings.kind = CaptureKind::Y4mStdout;
  } else if (special || EndsWith(settings.path, ".y4m")) {
    settings.kind = CaptureKind::Y4mFile;
  } else {
    settings.kind = CaptureKind::PngDirectory;
  }
  return true;
}

std::uint64_t CaptureSampleTarget(std::uint64_t n, int fps) {
  const std::uint64_t rate = static_cast<std::uint64_t>(std::clamp(fps, 1, kCaptureMaxFps));
  // n * 48000 stays exact in 64 bits for any frame count a capture can reach.
  return n * kAudioSampleRate / rate;
}

void ScaleFrameRgb(const Framebuffer& frame, int scale, std::vector<std::uint8_t>& rgb) {
  const std::size_t k = static_cast<std::size_t>(std::clamp(scale, 1, kCaptureMaxScale));
  const std::size_t out_width = frame.width * k;
  rgb.resize(out_width * frame.height * k * 3);
  std::uint8_t* out = rgb.data();
  for (std::size_t y = 0; y < frame.height; ++y) {
    // One enlarged row, then its copies below it.
    std::uint8_t* row = out;
    const std::uint32_t* words = frame.rgba.data() + y * frame.width;
    for (std::size_t x = 0; x < frame.width; ++x) {
      const std::uint32_t word = words[x];
      const auto r = static_cast<std::uint8_t>(word & 0xFFu);
      const auto g = static_cast<std::uint8_t>((word >> 8) & 0xFFu);
      const auto b = static_cast<std::uint8_t>((word >> 16) & 0xFFu);
      for (std::size_t i = 0; i < k; ++i) {
        *out++ = r;
        *out++ = g;
        *out++ = b;
      }
    }
    for (std::size_t i = 1; i < k; ++i) {
      std::memcpy(out, row, out_width * 3);
      out += out_width * 3;
    }
  }
}

void RgbToYuv420(const std::uint8_t* rgb, int width, int height, std::vector<std::uint8_t>& planes) {
  const std::size_t w = static_cast<std::size_t>(std::max(width, 0)) & ~std::size_t{1};
  const std::size_t h = static_cast<std::size_t>(std::max(height, 0)) & ~std::size_t{1};
  const std::size_t stride = static_cast<std::size_t>(std::max(width, 0)) * 3;
  planes.resize(w * h + 2 * (w / 2) * (h / 2));
  std::uint8_t* luma = planes.data();
  std::uint8_t* cb = luma + w * h;
  std::uint8_t* cr = cb + (w / 2) * (h / 2);

  for (std::size_t y = 0; y < h; ++y) {
    const std::uint8_t* p = rgb + y * stride;
    for (std::size_t x = 0; x < w; ++x, p += 3) luma[y * w + x] = LumaOf(p[0], p[1], p[2]);
  }

  // Chroma from the average colour of each 2 x 2 block.
  for (std::size_t y = 0; y < h / 2; ++y) {
    const std::uint8_t* top = rgb + 2 * y * stride;
    const std::uint8_t* bottom = top + stride;
    for (std::size_t x = 0; x < w / 2; ++x) {
      const std::size_t i = 6 * x;
      const int r = top[i] + top[i + 3] + bottom[i] + bottom[i + 3];
      const int g = top[i + 1] + top[i + 4] + bottom[i + 1] + bottom[i + 4];
      const int b = top[i + 2] + top[i + 5] + bottom[i + 2] + bottom[i + 5];
      cb[y * (w / 2) + x] = ChromaOf4(kCbR, kCbG, kCbB, r, g, b);
      cr[y * (w / 2) + x] = ChromaOf4(kCrR, kCrG, kCrB, r, g, b);
    }
  }
}

std::string Y4mHeader(int width, int height, int fps) {
  char text[128];
  std::snprintf(text, sizeof text, "YUV4MPEG2 W%d H%d F%d:1 Ip A1:1 C420jpeg XCOLORRANGE=LIMITED\n",
                width, height, fps);
  return text;
}

// ---- Output files ------------------------------------------------------------------------------

CaptureFile::~CaptureFile() { Discard(); }

bool CaptureFile::Fail(const char* reason) {
  error_ = "Could not save " + path_ + ": " + reason;
  Discard();
  return false;
}

bool CaptureFile::Open(const std::string& path) {
  Discard();
  path_ = path;
  error_.clear();
  if (path == "-") {
    file_ = stdout;
    owns_file_ = false;
    temp_path_.clear();
    return true;
  }
  // A pipe or a device is written as it is: it cannot be renamed, and its reader sees the bytes
  // as they come anyway.
  struct stat info {};
  const bool exists = ::stat(path.c_str(), &info) == 0;
  if (exists && S_ISDIR(info.st_mode)) return Fail("is a directory");
  const bool special = exists && !S_ISREG(info.st_mode);
  temp_path_ = special ? std::string() : path + ".partial";
  file_ = std::fopen(special ? path.c_str() : temp_path_.c_str(), "wb");
  if (!file_) return Fail(std::strerror(errno));
  owns_file_ = true;
  return true;
}

bool CaptureFile::Write(const void* data, std::size_t size) {
  if (!file_) return false;
  if (size == 0) return true;
  errno = 0;
  if (std::fwrite(data, 1, size, file_) != size) return Fail(errno ? std::strerror(errno) : "write failed");
  return true;
}

bool CaptureFile::Close() {
  if (closed_) return true;
  if (!file_) return false;
  // Buffered bytes only reach the file (or fail to) when it is flushed and closed.
  errno = 0;
  if (std::fflush(file_) != 0 || std::ferror(file_)) return Fail(errno ? std::strerror(errno) : "write failed");
  std::FILE* file = file_;
  file_ = nullptr;
  if (owns_file_ && std::fclose(file) != 0) return Fail(std::strerror(errno));
  closed_ = true;
  return true;
}

bool CaptureFile::Commit() {
  if (!Close()) return false;
  closed_ = false;
  if (!temp_path_.empty() && std::rename(temp_path_.c_str(), path_.c_str()) != 0) return Fail(std::strerror(errno));
  temp_path_.clear();
  return true;
}

void CaptureFile::Discard() {
  if (file_ && owns_file_) std::fclose(file_);
  file_ = nullptr;
  closed_ = false;
  if (!temp_path_.empty()) std::remove(temp_path_.c_str());
  temp_path_.clear();
}

std::string CaptureFrameName(std::uint64_t n) {
  char name[40];
  std::snprintf(name, sizeof name, "frame_%06llu.png", static_cast<unsigned long long>(n));
  return name;
}

// ---- Report ------------------------------------------------------------------------------------

std::vector<SceneTimeSummary> SummariseCaptureTimes(const std::vector<CaptureFrameRecord>& records) {
  std::vector<SceneTimeSummary> table;
  std::vector<int> scenes;
  for (const CaptureFrameRecord& r : records) scenes.push_back(r.scene);
  std::sort(scenes.begin(), scenes.end());
  scenes.erase(std::unique(scenes.begin(), scenes.end()), scenes.end());

  std::vector<double> times;
  for (const int scene : scenes) {
    times.clear();
    for (const CaptureFrameRecord& r : records)
      if (r.scene == scene) times.push_back(r.render_ms);
    std::sort(times.begin(), times.end());
    const std::size_t n = times.size();
    SceneTimeSummary s;
    s.scene = scene;
    s.frames = n;
    s.median_ms = n % 2 == 1 ? times[n / 2] : 0.5 * (times[n / 2 - 1] + times[n / 2]);
    const auto rank = static_cast<std::size_t>(std::ceil(0.99 * static_cast<double>(n)));
    s.p99_ms = times[std::clamp<std::size_t>(rank, 1, n) - 1];
    s.worst_ms = times.back();
    table.push_back(s);
  }
  return table;
}

std::string CaptureReportCsv(const std::vector<CaptureFrameRecord>& records) {
  std::string text = "frame,time,bar,scene,render_ms\n";
  char row[128];
  for (const CaptureFrameRecord& r : records) {
    std::snprintf(row, sizeof row, "%llu,%.6f,%.5f,%d,%.3f\n", static_cast<unsigned long long>(r.frame),
                  r.time, static_cast<double>(r.bar), r.scene, r.render_ms);
    text += row;
  }
  return text;
}

std::string CaptureSummaryText(const std::vector<CaptureFrameRecord>& records, double seconds) {
  char line[160];
  std::snprintf(line, sizeof line, "capture: %zu frames in %.2f s (%.1f frames per second)\n",
                records.size(), seconds, seconds > 0 ? static_cast<double>(records.size()) / seconds : 0.0);
  std::string text = line;
  text += "scene  frames  median_ms  p99_ms  worst_ms\n";
  for (const SceneTimeSummary& s : SummariseCaptureTimes(records)) {
    std::snprintf(line, sizeof line, "%5d  %6zu  %9.3f  %6.3f  %8.3f\n", s.scene, s.frames, s.median_ms,
                  s.p99_ms, s.worst_ms);
    text += line;
  }
  const auto worst = std::max_element(records.begin(), records.end(),
                                      [](const CaptureFrameRecord& a, const CaptureFrameRecord& b) {
                                        return a.render_ms < b.render_ms;
                                      });
  if (worst != records.end()) {
    std::snprintf(line, sizeof line, "worst frame: %llu at bar %.2f (scene %d), %.3f ms\n",
                  static_cast<unsigned long long>(worst->frame), static_cast<double>(worst->bar),
                  worst->scene, worst->render_ms);
    text += line;
  }
  return text;
}
