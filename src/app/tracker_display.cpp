// The App's side of the tracker display: its options, the selected source's snapshot (the copy
// held while the show is frozen), the bar clock, the scene's layer and the flash state the
// assembly layout keeps between frames.

#include <algorithm>

#include "app/app.h"
#include "overlays/tracker_viz.h"

void App::DrawTrackerViz(int scene) {
  if (!options.tracker_viz || scene == 1) return;
  const int i = std::clamp(scene - 1, 0, kSceneCount - 1);

  TrackerVizSettings settings;
  settings.mode = options.tracker_viz_mode;
  settings.effect = options.tracker_viz_effect;
  settings.border = options.tracker_viz_border;
  settings.x = options.tracker_viz_x;
  settings.y = options.tracker_viz_y;
  settings.rows = options.tracker_viz_rows;
  settings.opacity = options.tracker_viz_opacity;
  settings.assembly_region = options.tracker_assembly_region;

  TrackerSnapshot live;
  if (!director_state.frozen) live = SourceSnapshot();
  const TrackerSnapshot& snap = director_state.frozen ? director_state.frozen_snapshot : live;

  const bool behind = options.tracker_layer[i] == 1;
  ::DrawTrackerViz(frame, glow, snap, settings, DirectorView().ClockBar(), behind,
                   TrackerFlashState{tracker_flash, tracker_last_step});
}
