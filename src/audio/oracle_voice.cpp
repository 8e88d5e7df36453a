#include "audio/oracle_voice.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "timeline/oracle_lines.h"

// The voices are the spoken form of the subtitle lines: file and trigger bar come from the one
// table both use.
static_assert(kOracleVoiceCount == kOracleLineCount, "one voice per oracle line");
constinit const std::array<OracleVoiceCue, kOracleVoiceCount> kOracleVoiceCues = [] {
  std::array<OracleVoiceCue, kOracleVoiceCount> cues{};
  for (int slot = 0; slot < kOracleVoiceCount; ++slot)
    cues[slot] = {kOracleLines[slot].voice_file, kOracleLines[slot].start};
  return cues;
}();

namespace {

constexpr std::uint32_t kOutputRate = 48000;
constexpr std::uint64_t kMaxSeconds = 30;
// Thirty seconds of 16-bit stereo even at 192 kHz is 23 MB: a much larger file is not a voice
// line, and reading it whole could exhaust memory.
constexpr std::uintmax_t kMaxFileBytes = 256u << 20;

std::uint16_t ReadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t ReadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

// The directory part of a path, with both '/' and '\' as separators; empty when there is none.
std::string ParentDirectory(const std::string& path) {
  const std::size_t last = path.find_last_of("/\\");
  if (last == std::string::npos) return std::string();
  const std::size_t keep = path.find_last_not_of("/\\", last);
  if (keep == std::string::npos) return path.substr(0, 1);  // the root itself
  return path.substr(0, keep + 1);
}

std::string JoinNormalised(const std::string& directory, const std::string& file_name) {
  const std::filesystem::path joined =
      std::filesystem::path(directory) / "oracle_voice" / file_name;
  const std::string normal = joined.lexically_normal().string();
  return normal.empty() ? std::string(".") : normal;
}

bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  bytes.clear();
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return false;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > kMaxFileBytes) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return false;
  bytes.resize(static_cast<std::size_t>(size));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size));
  if (static_cast<std::uintmax_t>(in.gcount()) != size) {
    bytes.clear();
    return false;
  }
  return true;
}

// Voice lines are recorded at ordinary audio rates; a header outside these is not a voice line
// (and an absurd rate would let the 30-second limit admit any length).
constexpr std::uint32_t kMinRate = 8000;
constexpr std::uint32_t kMaxRate = 192000;

// The 16-bit samples of one data chunk, read where they lie in the file, mixed down to mono.
struct PcmView {
  const std::uint8_t* data = nullptr;
  std::uint64_t frames = 0;
  std::uint16_t channels = 1;
  std::uint32_t rate = 0;
};

float SampleAt(const PcmView& pcm, std::uint64_t f) {
  constexpr float kScale = 1.0f / 32768.0f;
  const std::uint8_t* frame = pcm.data + f * 2u * pcm.channels;
  const float left = static_cast<float>(static_cast<std::int16_t>(ReadU16(frame))) * kScale;
  if (pcm.channels == 1) return left;
  const float right = static_cast<float>(static_cast<std::int16_t>(ReadU16(frame + 2))) * kScale;
  return (left + right) * 0.5f;
}

// The samples at 48 kHz, by linear interpolation from their own rate, straight from the file's
// bytes, so reading a voice needs little more memory than the file and the result.
void DecodeTo48k(const PcmView& pcm, std::vector<float>& out) {
  const std::uint64_t frames = pcm.frames;
  if (pcm.rate == kOutputRate) {
    out.resize(static_cast<std::size_t>(frames));
    for (std::uint64_t f = 0; f < frames; ++f) out[f] = SampleAt(pcm, f);
    return;
  }
  const std::uint64_t out_len = std::max<std::uint64_t>(1, (frames * kOutputRate + pcm.rate - 1) / pcm.rate);
  out.resize(static_cast<std::size_t>(out_len));
  const double step = static_cast<double>(pcm.rate) / kOutputRate;
  for (std::uint64_t k = 0; k < out_len; ++k) {
    const double t = static_cast<double>(k) * step;
    const std::uint64_t i = std::min<std::uint64_t>(static_cast<std::uint64_t>(t), frames - 1);
    const std::uint64_t next = std::min<std::uint64_t>(i + 1, frames - 1);
    const float frac = static_cast<float>(t - static_cast<double>(i));
    const float a = SampleAt(pcm, i);
    const float b = SampleAt(pcm, next);
    out[k] = a + (b - a) * frac;
  }
}

}  // namespace

bool ParseOracleWav(const std::uint8_t* data, std::size_t size, std::vector<float>& out) {
  out.clear();
  // 1. RIFF/WAVE header.
  if (data == nullptr || size < 12) return false;
  if (std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) return false;

  std::uint16_t format_tag = 0;
  std::uint16_t channels = 0;
  std::uint32_t rate = 0;
  std::uint16_t bits = 0;
  PcmView samples;  // the last data chunk, under the format in force when it came

  // 2. Chunks, each an 8-byte header and a body padded to an even length.
  std::size_t pos = 12;
  while (size - pos >= 8) {
    const std::uint8_t* header = data + pos;
    const std::uint32_t chunk_size = ReadU32(header + 4);
    const std::size_t body = pos + 8;
    if (chunk_size > size - body) return false;  // truncated or absurd size
    const std::uint8_t* chunk = data + body;

    if (std::memcmp(header, "fmt ", 4) == 0) {
      // 3. Format: a later one replaces an earlier one.
      if (chunk_size < 16) return false;
      format_tag = ReadU16(chunk + 0);
      channels = ReadU16(chunk + 2);
      rate = ReadU32(chunk + 4);
      bits = ReadU16(chunk + 14);
    } else if (std::memcmp(header, "data", 4) == 0) {
      // 4. Samples: 16-bit PCM, mono or stereo, at an audio rate, at most 30 seconds.
      const bool supported = format_tag == 1 && (channels == 1 || channels == 2) && bits == 16 &&
                             rate >= kMinRate && rate <= kMaxRate;
      if (!supported) return false;
      const std::uint64_t frames = chunk_size / (2u * channels);
      if (frames < 1 || frames > kMaxSeconds * rate) return false;
      samples = PcmView{chunk, frames, channels, rate};
    }
    // 5. Next chunk after the body and its pad byte.
    const std::size_t padded = static_cast<std::size_t>(chunk_size) + (chunk_size & 1u);
    if (padded >= size - body) break;
    pos = body + padded;
  }

  // 6-7. Something to play, at 48 kHz.
  if (samples.frames == 0) return false;
  DecodeTo48k(samples, out);
  return true;
}

std::vector<std::string> OracleVoiceCandidatePaths(const std::string& track_source_path,
                                                   const std::string& file_name,
                                                   const PathResolver& resolver) {
  std::vector<std::string> places;
  const std::string track_directory = ParentDirectory(track_source_path);
  if (!track_directory.empty()) places.push_back(JoinNormalised(track_directory, file_name));
  for (const char* directory : {"data/kestrel", "../data/kestrel", "_bin/data/kestrel", "", ".."}) {
    places.push_back(JoinNormalised(directory, file_name));
  }

  std::vector<std::string> candidates;
  for (const std::string& place : places) {
    const std::string path = resolver ? resolver(place) : place;
    if (std::find(candidates.begin(), candidates.end(), path) != candidates.end()) continue;
    candidates.push_back(path);
  }
  return candidates;
}

bool LoadOracleVoice(OracleVoice& voice, const std::string& file_name,
                     const std::string& track_source_path, const PathResolver& resolver,
                     const FileReader& reader) {
  voice = OracleVoice();
  for (const std::string& path :
       OracleVoiceCandidatePaths(track_source_path, file_name, resolver)) {
    std::vector<std::uint8_t> bytes;
    std::vector<float> samples;
    // The size cap holds whichever way the file is found (the asset store allows far larger).
    bool ok = reader && reader(path, bytes) && bytes.size() <= kMaxFileBytes &&
              ParseOracleWav(bytes.data(), bytes.size(), samples);
    if (!ok) ok = ReadWholeFile(path, bytes) && ParseOracleWav(bytes.data(), bytes.size(), samples);
    if (ok) {
      voice.samples = std::move(samples);
      voice.name = path;
      voice.loaded = true;
      return true;
    }
  }
  return false;
}

std::string LoadOracleVoices(OracleVoiceSet& voices, const std::string& track_source_path,
                             const PathResolver& resolver, const FileReader& reader) {
  int loaded = 0;
  for (int slot = 0; slot < kOracleVoiceCount; ++slot) {
    if (LoadOracleVoice(voices[slot], kOracleVoiceCues[slot].file, track_source_path, resolver,
                        reader)) {
      ++loaded;
    }
  }
  return "oracle voice " + std::to_string(loaded) + "/" + std::to_string(kOracleVoiceCount) +
         " loaded";
}

float MixOracleVoices(const OracleVoiceSet& voices, float bar, float tempo) {
  // 48 kHz frames in one bar of four beats at one beat per minute: 48000 * 240.
  constexpr double kFramesPerBarAtOneBpm = 11520000.0;
  const double safe_tempo = tempo >= 1.0f ? tempo : 1.0f;
  float sum = 0.0f;
  for (int slot = 0; slot < kOracleVoiceCount; ++slot) {
    const OracleVoice& voice = voices[slot];
    if (!voice.loaded || voice.samples.empty()) continue;
    const float d = bar - kOracleVoiceCues[slot].bar;
    if (!(d >= 0.0f)) continue;
    const double p = static_cast<double>(d) * kFramesPerBarAtOneBpm / safe_tempo;
    const double last = static_cast<double>(voice.samples.size()) - 1.0;
    if (!(p < last)) continue;
    const std::size_t i = static_cast<std::size_t>(p);
    const float frac = static_cast<float>(p - static_cast<double>(i));
    sum += voice.samples[i] + (voice.samples[i + 1] - voice.samples[i]) * frac;
  }
  return sum * 0.7f;
}
