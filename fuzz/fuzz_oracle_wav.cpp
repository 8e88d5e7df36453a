// The voice WAV reader: the input is one WAV file; what it accepts is mixed in at its cue bar as
// the synthesiser does.

#include <vector>

#include "audio/oracle_voice.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<float> samples;
  const bool ok = ParseOracleWav(data, size, samples);
  if (!ok) {
    FUZZ_CHECK(samples.empty());
    return 0;
  }
  // At most 30 seconds at 48 kHz (and a millisecond for the rounding of the conversion).
  FUZZ_CHECK(!samples.empty() && samples.size() <= 30 * 48000 + 48);
  for (const float s : samples) FUZZ_CHECK(std::isfinite(s) && s >= -4.0f && s <= 4.0f);

  OracleVoiceSet voices;
  voices[3].samples = samples;
  voices[3].loaded = true;
  const float cue = kOracleVoiceCues[3].bar;
  for (const float tempo : {0.0f, 80.0f, 140.0f, 180.0f}) {
    for (float d = -1.0f; d < 40.0f; d += 0.37f) {
      FUZZ_CHECK(std::isfinite(MixOracleVoices(voices, cue + d, tempo)));
    }
  }
  return 0;
}
