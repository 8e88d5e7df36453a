// The sequence file, read through the asset store's load path from an in-memory file (a memfd:
// nothing is written to disk), and the same text through the parser alone.

#include "assets/asset_store.h"
#include "fuzz_check.h"
#include "fuzz_memfile.h"
#include "timeline/sequence.h"

namespace {

void CheckTimeline(const SequenceTimeline& timeline) {
  FUZZ_CHECK(timeline.loop_bars >= 1.0f && std::isfinite(timeline.loop_bars));
  FUZZ_CHECK(!timeline.sections.empty());
  for (std::size_t i = 0; i < timeline.sections.size(); ++i) {
    const SequenceSection& s = timeline.sections[i];
    FUZZ_CHECK(s.scene >= 1 && s.scene <= 8);
    FUZZ_CHECK(s.start >= 0.0f && s.start < s.end && std::isfinite(s.end));
    if (i > 0) FUZZ_CHECK(timeline.sections[i - 1].start <= s.start);
  }
  for (const SequenceCue& c : timeline.cues) {
    FUZZ_CHECK(!c.name.empty());
    FUZZ_CHECK(c.start >= 0.0f && c.start < c.end && std::isfinite(c.end));
    FUZZ_CHECK(std::isfinite(c.amount) && c.fade_in >= 0.0f && c.fade_out >= 0.0f);
    FUZZ_CHECK(std::isfinite(c.fade_in) && std::isfinite(c.fade_out));
  }
  FUZZ_CHECK(IsOneLine(timeline.status));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = InputText(data, size);

  const SequenceParseResult parsed = ParseSequence(text);
  FUZZ_CHECK(parsed.ok == (parsed.error_line == 0));
  if (!parsed.ok) FUZZ_CHECK(!parsed.error.empty() && IsOneLine(parsed.error));

  MemFile file(data, size);
  FUZZ_CHECK(file.Ok());
  AssetStore assets;
  assets.SetExecutableDirectory("");
  std::int32_t audio_source = 1;
  std::string xm_path = "data/modules/KOBALT.XM";
  SequenceTimeline timeline;
  LoadSequence(assets, file.Path(), MusicSelection{audio_source, false, xm_path, false}, timeline);
  CheckTimeline(timeline);
  FUZZ_CHECK(audio_source == 0 || audio_source == 1);
  FUZZ_CHECK(!xm_path.empty());
  // The load path and the parser agree on what the file holds.
  if (parsed.ok && !parsed.sections.empty()) {
    FUZZ_CHECK(timeline.sections.size() == parsed.sections.size());
    FUZZ_CHECK(timeline.cues.size() == parsed.cues.size());
  }
  return 0;
}
