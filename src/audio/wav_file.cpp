#include "audio/wav_file.h"

#include <algorithm>
#include <cmath>

#include "audio/audio_output.h"

namespace {

void PutU16(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
  bytes.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void PutU32(std::vector<std::uint8_t>& bytes, std::uint32_t value) {
  PutU16(bytes, value & 0xFFFF);
  PutU16(bytes, value >> 16);
}

}  // namespace

std::vector<std::uint8_t> WavHeader(std::uint32_t frames) {
  const std::uint32_t block_align = kAudioChannels * 2;
  const std::uint32_t data_bytes = std::min(frames, kWavMaxFrames) * block_align;
  std::vector<std::uint8_t> header;
  header.reserve(kWavHeaderBytes);
  header.insert(header.end(), {'R', 'I', 'F', 'F'});
  PutU32(header, 36 + data_bytes);
  header.insert(header.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
  PutU32(header, 16);
  PutU16(header, 1);  // PCM
  PutU16(header, kAudioChannels);
  PutU32(header, kAudioSampleRate);
  PutU32(header, kAudioSampleRate * block_align);
  PutU16(header, block_align);
  PutU16(header, 16);
  header.insert(header.end(), {'d', 'a', 't', 'a'});
  PutU32(header, data_bytes);
  return header;
}

std::int16_t ToPcm16(float x) {
  const long scaled = std::lrint(static_cast<double>(x) * 32767.0);
  return static_cast<std::int16_t>(std::clamp(scaled, -32768L, 32767L));
}

void AppendPcm16(const float* samples, std::size_t count, std::vector<std::uint8_t>& bytes) {
  for (std::size_t k = 0; k < count; ++k) {
    const auto value = static_cast<std::uint16_t>(ToPcm16(samples[k]));
    bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
  }
}
