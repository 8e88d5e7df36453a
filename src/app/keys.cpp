// Keyboard controls and the window-title status line: the App reads the keyboard, the rules decide
// (DecideKeyActions), and the App runs the resulting actions in order.

#include "app/app.h"
#include "timeline/status_title.h"

void App::HandleKeys() {
  Platform& p = *platform;

  KeyInput input;
  for (int key = 0; key < kKeyCount; ++key) {
    input.down[key] = p.IsKeyDown(key);
    input.presses[key] = p.KeyPresses(key);
  }
  input.any = p.AnyKeyDown();

  // One round of the rules per press since the last poll, so that no tap is lost; after the
  // finale the first key only restarts the show.
  const int rounds = director_state.finished ? 1 : KeyRounds(input);
  for (int round = 0; round < rounds; ++round) {
    const KeyInput state = KeyRoundInput(input, round, keys);
    const KeyActions actions =
        DecideKeyActions(state, keys, director_state.finished, director_state.frozen);
    for (int n = 0; n < actions.count; ++n) {
      switch (actions.list[n]) {
        case KeyAction::kRequestClose:
          p.RequestClose();
          break;
        case KeyAction::kToggleFullscreen:
          options.fullscreen = !p.IsFullscreen();
          p.SetFullscreen(options.fullscreen);
          break;
        case KeyAction::kRestartShow:
          DirectorView().RestartShow();
          break;
        case KeyAction::kSelectScene:
          options.scene = actions.scene;
          options.club_stage_preview = false;
          options.director = false;
          break;
        case KeyAction::kClearFrames:
          ClearFramebuffers();
          break;
        case KeyAction::kToggleFreeze:
          DirectorView().SetFrozen(!director_state.frozen);
          break;
        case KeyAction::kToggleMusic:
          DirectorView().ToggleMusic();
          break;
        case KeyAction::kToggleDirector:
          options.director = !options.director;
          break;
        case KeyAction::kSeekBack: {
          Director director = DirectorView();
          director.SeekMusic(director.SeekableBar() - 4.0f);
          break;
        }
        case KeyAction::kSeekForward: {
          Director director = DirectorView();
          director.SeekMusic(director.SeekableBar() + 4.0f);
          break;
        }
        case KeyAction::kSectionBack:
          DirectorView().StepSection(-1);
          break;
        case KeyAction::kSectionForward:
          DirectorView().StepSection(+1);
          break;
        case KeyAction::kSeekStart:
          DirectorView().SeekMusic(0.0f);
          break;
        case KeyAction::kSeekEnd:
          DirectorView().SeekMusic(EndKeyTarget(sequence.sections, sequence.loop_bars));
          break;
      }
    }
  }
}

void App::UpdateTitle() {
  const MusicViz mv = BuildMusicViz();
  const int active = ActiveScene(mv);
  const std::string title =
      StatusTitle(kProductionName, active, options.director, director_state.frozen, fps);
  platform->SetTitle(title.c_str());
}
