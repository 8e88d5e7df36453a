// Module loading through the module player's own load path, without a device: the input is one
// module file (any format libxmp loads), held as bytes the way the asset pack hands them over,
// started for offline rendering, rendered a little, sought and rendered again.

#include <vector>

#include "audio/xm_player.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> bytes(data, data + size);

  XmModuleFacts facts;
  const int inspected = InspectXmModule(bytes, facts);

  XmPlayer player;
  player.SetModuleData("fuzz.xm", bytes);
  const bool started = player.BeginOfflineRender();
  FUZZ_CHECK(IsOneLine(player.GetStatus()));
  // The player plays only what libxmp loads (and not every module it loads: one without
  // channels is refused).
  FUZZ_CHECK(!started || inspected == 0);
  if (inspected == 0 && facts.channels >= 1) FUZZ_CHECK(started);
  if (!started) return 0;

  std::vector<float> block(2 * 1024);
  player.RenderOffline(block.data(), 1024);
  for (const float s : block) FUZZ_CHECK(std::isfinite(s));
  // Seeks as the keys and the bar clock make them: into the first orders, half way down each,
  // then one past the end (wrapped), each followed by a little playing and a look at the display.
  const int seeks = facts.orders < 6 ? facts.orders + 1 : 6;
  for (int i = 0; i < seeks; ++i) {
    player.SeekToOrder(i < facts.orders ? i + 0.5 : facts.orders + 0.25);
    (void)player.GetVizSnapshot();
    (void)player.GetPosition();
    player.RenderOffline(block.data(), 256);
    for (const float s : block) FUZZ_CHECK(std::isfinite(s));
  }
  player.Stop();
  return 0;
}
