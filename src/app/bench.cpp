// Bench runs: a fixed number of frames as fast as possible, without window or music.

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "app/app.h"
#include "app/frame_capture.h"

int App::RunBench() {
  const uint64_t n = options.frames != 0 ? options.frames : 300;
  // No music plays, so the timeline stands at bar_offset while the frame time runs at 60 frames
  // per second from it.
  const double start_time = static_cast<double>(options.bar_offset) * 240.0 /
                            std::max(static_cast<double>(options.audio_bpm), 1.0);

  using Clock = std::chrono::steady_clock;
  const Clock::time_point t0 = Clock::now();
  for (uint64_t i = 0; i < n; ++i) {
    RenderFrame(static_cast<float>(static_cast<double>(i) / 60.0 + start_time));
    frame_count += 1;
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - t0).count();
  const double fps_measured = elapsed > 0 ? static_cast<double>(n) / elapsed : 0.0;

  if (!options.save_path.empty() && !WritePpm(frame, options.save_path))
    std::fprintf(stderr, "Could not save %s\n", options.save_path.c_str());

  const MusicViz mv = BuildMusicViz();
  const int active = ActiveScene(mv);
  std::printf("bench scene=%d active_scene=%d frames=%zu seconds=%.4f fps=%.2f\n", options.scene,
              active, static_cast<size_t>(n), elapsed, fps_measured);
  return 0;
}
