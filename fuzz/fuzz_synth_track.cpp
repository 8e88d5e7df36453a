// The synth track: the input is the track file, handed to the load path through the file reader
// (as the asset store hands it over), then the arrangement is evaluated over the track that
// results, in the loop and outside it, as the synthesiser does for every output frame.

#include <vector>

#include "audio/arrangement.h"
#include "audio/synth_track.h"
#include "fuzz_check.h"

namespace {

void CheckArrangement(const SynthTrack& track, double x) {
  const ArrangementState a = EvaluateArrangement(track, x);
  FUZZ_CHECK(a.bass_pattern >= 0 && static_cast<std::size_t>(a.bass_pattern) < track.bass_patterns.size());
  FUZZ_CHECK(a.lead_pattern >= 0 && static_cast<std::size_t>(a.lead_pattern) < track.lead_patterns.size());
  FUZZ_CHECK(a.chord_set >= 0 && static_cast<std::size_t>(a.chord_set) < track.chord_sets.size());
  const float levels[] = {a.bar,    a.bar_phase,   a.kick,        a.perc,       a.bass,  a.lead,
                          a.pad,    a.echo,        a.clap,        a.hat,        a.ride,  a.fill16,
                          a.impact, a.lead_octave, a.build,       a.fill,       a.bass_cutoff,
                          a.lead_cutoff, a.pad_cutoff, a.mix};
  for (const float level : levels) FUZZ_CHECK(std::isfinite(level));
  FUZZ_CHECK(a.bar >= 0.0f && a.bar_phase >= 0.0f && a.bar_phase <= 1.0f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);
  const FileReader reader = [&bytes](const std::string&, std::vector<std::uint8_t>& out) {
    out = bytes;
    return true;
  };
  std::string status;
  const SynthTrack track = LoadSynthTrack("fuzz/track.txt", PathResolver(), reader, status);
  FUZZ_CHECK(IsOneLine(status));
  FUZZ_CHECK(track.loop_bars >= 1.0f);
  FUZZ_CHECK(!track.bass_patterns.empty() && !track.lead_patterns.empty() && !track.chord_sets.empty());
  FUZZ_CHECK(!track.sections.empty());
  for (const SynthSection& s : track.sections) {
    FUZZ_CHECK(s.bass >= 0 && static_cast<std::size_t>(s.bass) < track.bass_patterns.size());
    FUZZ_CHECK(s.lead >= 0 && static_cast<std::size_t>(s.lead) < track.lead_patterns.size());
    FUZZ_CHECK(s.chord >= 0 && static_cast<std::size_t>(s.chord) < track.chord_sets.size());
  }

  // Bar positions across two passes of the loop, either side of it, and far on in a long run.
  const double loop = static_cast<double>(track.loop_bars);
  for (int k = -8; k <= 40; ++k) CheckArrangement(track, loop * k / 16.0 + 0.013 * k);
  for (const double x : {0.0, 0.999, 1.0, 15.999, 16.0, 95.99, 96.0, 127.5, 1.0e4, 2.5e6}) {
    CheckArrangement(track, x);
  }
  return 0;
}
