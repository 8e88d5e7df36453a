#pragma once
// The one WAV layout the show writes: 48 kHz stereo 16-bit PCM, little-endian, a 44-byte header.
// Used by the offline audio render tool and by the show's capture, so both write the same bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

// Size of the header WavHeader writes.
inline constexpr std::size_t kWavHeaderBytes = 44;

// The most stereo 16-bit frames a WAV file can describe: its size fields are 32 bits (about six
// hours at 48 kHz).
inline constexpr std::uint32_t kWavMaxFrames = (0xFFFFFFFFu - 36u) / 4u;

// The header of a file holding `frames` stereo frames (at most kWavMaxFrames).
std::vector<std::uint8_t> WavHeader(std::uint32_t frames);

// x in [-1, 1] as a 16-bit sample: rounded to nearest, clipped at the ends.
std::int16_t ToPcm16(float x);

// Appends `samples` interleaved float samples as little-endian 16-bit words to `bytes`.
void AppendPcm16(const float* samples, std::size_t count, std::vector<std::uint8_t>& bytes);
