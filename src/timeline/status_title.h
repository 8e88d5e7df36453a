#pragma once
// The window title that doubles as a status line, and the keyboard rules of the show as a pure
// function: the platform's key state and the key memory in, the actions to run out, in order.
// The App reads the keys, calls DecideKeyActions and runs the actions (see KeyAction).

#include <array>
#include <cstdint>
#include <string>

#include "platform/platform.h"

// Title text: "<production> | scene N[ directed][ frozen] | F.F FPS | Space freeze | D director",
// formatted into 160 bytes (longer text is cut at 159 characters).
std::string StatusTitle(const char* production, int active_scene, bool director, bool frozen, double fps);

// Number of logical keys (Key values 0 .. kKeyEnd).
constexpr int kKeyCount = kKeyEnd + 1;

// The platform's keyboard at one HandleKeys call.
struct KeyInput {
  std::array<bool, kKeyCount> down{};     // IsKeyDown(key) for every Key
  bool any = false;                        // AnyKeyDown(): any key but Escape
  std::array<int32_t, kKeyCount> presses{};  // KeyPresses(key): presses the last poll delivered
};

// What HandleKeys remembers between calls: the previous state of the twelve edge-triggered keys
// (R, F1, F11, Space, M, D, Left, Right, Page Up, Page Down, Home, End; other slots unused) and of
// "any key". All false at start-up, so a key held at start acts on the first frame.
struct KeyMemory {
  std::array<bool, kKeyCount> previous{};
  bool any = false;
};

// What one key press asks the App to do.
enum class KeyAction : int32_t {
  kRequestClose,      // Esc
  kToggleFullscreen,  // F11: fullscreen = !IsFullscreen(); SetFullscreen(fullscreen)
  kRestartShow,       // any key after the finale: RestartShow()
  kSelectScene,       // digit: scene = KeyActions::scene; club_stage_preview = false; director = false
  kClearFrames,       // R: frame, glow and trail to black
  kToggleFreeze,      // Space: SetFrozen(!frozen)
  kToggleMusic,       // M: music on/off
  kToggleDirector,    // D: director = !director
  kSeekBack,          // Left: SeekMusic(SeekableBar() - 4)
  kSeekForward,       // Right: SeekMusic(SeekableBar() + 4)
  kSectionBack,       // Page Up: StepSection(-1)
  kSectionForward,    // Page Down: StepSection(+1)
  kSeekStart,         // Home: SeekMusic(0)
  kSeekEnd,           // End: SeekMusic(EndKeyTarget(sections, loop_bars))
};

// Actions of one call, to run in this order.
struct KeyActions {
  std::array<KeyAction, 16> list{};
  int count = 0;
  int scene = 0;  // the digit for kSelectScene (the highest held digit wins)
  bool Has(KeyAction action) const;
};

// The keyboard rules. Edge keys act once per press and their memory is updated on every call,
// even when the action is suppressed; M, D and the seek keys do nothing while frozen (a Space
// press in the same call counts); after the finale only Esc, F11 and "any key" are handled, and an
// F11 press does not restart the show.
KeyActions DecideKeyActions(const KeyInput& input, KeyMemory& memory, bool finished, bool frozen);

// A key may be pressed and released between two polls (a quick tap, or any tap while a heavy scene
// runs slowly), or pressed several times. The rules then run once per press: round r sees every
// key pressed more than r times as freshly pressed, and every other key in its current state.
// KeyRounds is the number of rounds for one poll (at least 1, at most kMaxKeyRounds).
inline constexpr int kMaxKeyRounds = 8;
int KeyRounds(const KeyInput& input);
// The keyboard as round `round` sees it. A press starts from a released key, so the memory of a
// key pressed in this round is cleared: the press acts even if the key was down at the last poll
// (released and pressed again in between) or is already up again now.
KeyInput KeyRoundInput(const KeyInput& input, int round, KeyMemory& memory);
