#include "timeline/status_title.h"

#include <algorithm>
#include <cstdio>

std::string StatusTitle(const char* production, int active_scene, bool director, bool frozen, double fps) {
  char buffer[160];
  std::snprintf(buffer, sizeof(buffer), "%s | scene %d%s%s | %.1f FPS | Space freeze | D director",
                production != nullptr ? production : "", active_scene, director ? " directed" : "",
                frozen ? " frozen" : "", fps);
  return buffer;
}

bool KeyActions::Has(KeyAction action) const {
  for (int i = 0; i < count; ++i) {
    if (list[i] == action) return true;
  }
  return false;
}

namespace {

// The edge-triggered keys in the order they are handled after the digits (F1 is only remembered).
constexpr Key kEdgeKeys[] = {kKeyR,    kKeyF1,     kKeyF11,      kKeySpace, kKeyM,   kKeyD,
                             kKeyLeft, kKeyRight, kKeyPageUp, kKeyPageDown, kKeyHome, kKeyEnd};

void Push(KeyActions& actions, KeyAction action) {
  if (actions.count < static_cast<int>(actions.list.size())) actions.list[actions.count++] = action;
}

// True once per press; records the key's state either way.
bool Pressed(const KeyInput& input, KeyMemory& memory, Key key) {
  const bool down = input.down[key];
  const bool pressed = down && !memory.previous[key];
  memory.previous[key] = down;
  return pressed;
}

}  // namespace

KeyActions DecideKeyActions(const KeyInput& input, KeyMemory& memory, bool finished, bool frozen) {
  KeyActions actions;

  // Esc closes at once.
  if (input.down[kKeyEscape]) {
    Push(actions, KeyAction::kRequestClose);
    return actions;
  }

  // Full screen, also after the finale, where the press must not count as "any key".
  if (Pressed(input, memory, kKeyF11)) {
    Push(actions, KeyAction::kToggleFullscreen);
    if (finished) {
      memory.any = input.any;
      return actions;
    }
  }

  // After the finale any newly pressed key restarts the show; keys held through the restart
  // must not fire afterwards, so their memory is reloaded.
  if (finished) {
    if (input.any && !memory.any) {
      Push(actions, KeyAction::kRestartShow);
      for (Key key : kEdgeKeys) memory.previous[key] = input.down[key];
    }
    memory.any = input.any;
    return actions;
  }
  memory.any = input.any;

  // Digits act while held; the highest wins.
  for (int digit = 1; digit <= 8; ++digit) {
    if (input.down[digit]) actions.scene = digit;
  }
  if (actions.scene != 0) Push(actions, KeyAction::kSelectScene);

  if (Pressed(input, memory, kKeyR)) Push(actions, KeyAction::kClearFrames);
  Pressed(input, memory, kKeyF1);
  if (Pressed(input, memory, kKeySpace)) {
    Push(actions, KeyAction::kToggleFreeze);
    frozen = !frozen;
  }

  // Music, director and seeking wait while the picture is frozen.
  struct Binding {
    Key key;
    KeyAction action;
  };
  constexpr Binding kUnfrozenKeys[] = {
      {kKeyM, KeyAction::kToggleMusic},       {kKeyD, KeyAction::kToggleDirector},
      {kKeyLeft, KeyAction::kSeekBack},       {kKeyRight, KeyAction::kSeekForward},
      {kKeyPageUp, KeyAction::kSectionBack},  {kKeyPageDown, KeyAction::kSectionForward},
      {kKeyHome, KeyAction::kSeekStart},      {kKeyEnd, KeyAction::kSeekEnd},
  };
  for (const Binding& binding : kUnfrozenKeys) {
    if (Pressed(input, memory, binding.key) && !frozen) Push(actions, binding.action);
  }
  return actions;
}

int KeyRounds(const KeyInput& input) {
  int rounds = 1;
  for (const int32_t presses : input.presses) rounds = std::max(rounds, static_cast<int>(presses));
  return std::min(rounds, kMaxKeyRounds);
}

KeyInput KeyRoundInput(const KeyInput& input, int round, KeyMemory& memory) {
  KeyInput state = input;
  for (int key = 0; key < kKeyCount; ++key) {
    if (input.presses[key] <= round) continue;
    state.down[key] = true;
    memory.previous[key] = false;
    // A fresh press of a key other than Escape is a fresh "any key" too.
    if (key != kKeyEscape) {
      state.any = true;
      memory.any = false;
    }
  }
  return state;
}
