// Keyboard rules and the status-line title.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "timeline/status_title.h"

namespace {

// Feeds key states frame by frame through one key memory, as the frame loop does.
struct Keyboard {
  KeyMemory memory;
  bool finished = false;
  bool frozen = false;

  // One HandleKeys call with exactly these keys held ("any" follows: held non-Esc keys).
  KeyActions Frame(std::initializer_list<Key> held) {
    KeyInput input;
    for (Key key : held) {
      input.down[key] = true;
      if (key != kKeyEscape) input.any = true;
    }
    const KeyActions actions = DecideKeyActions(input, memory, finished, frozen);
    if (actions.Has(KeyAction::kToggleFreeze)) frozen = !frozen;
    if (actions.Has(KeyAction::kRestartShow)) finished = false;
    return actions;
  }
};

std::vector<KeyAction> List(const KeyActions& actions) {
  return std::vector<KeyAction>(actions.list.begin(), actions.list.begin() + actions.count);
}

}  // namespace

TEST(Keys, EdgeKeysActOncePerPress) {
  Keyboard keys;
  EXPECT_EQ(List(keys.Frame({kKeyLeft})), std::vector<KeyAction>{KeyAction::kSeekBack});
  for (int i = 0; i < 5; ++i) EXPECT_EQ(keys.Frame({kKeyLeft}).count, 0) << "held frame " << i;
  EXPECT_EQ(keys.Frame({}).count, 0);
  EXPECT_TRUE(keys.Frame({kKeyLeft}).Has(KeyAction::kSeekBack));

  // Each edge key maps to its action; a key held at start-up acts on the first frame.
  struct Case {
    Key key;
    KeyAction action;
  };
  const Case cases[] = {
      {kKeyR, KeyAction::kClearFrames},         {kKeySpace, KeyAction::kToggleFreeze},
      {kKeyM, KeyAction::kToggleMusic},         {kKeyD, KeyAction::kToggleDirector},
      {kKeyRight, KeyAction::kSeekForward},     {kKeyPageUp, KeyAction::kSectionBack},
      {kKeyPageDown, KeyAction::kSectionForward}, {kKeyHome, KeyAction::kSeekStart},
      {kKeyEnd, KeyAction::kSeekEnd},           {kKeyF11, KeyAction::kToggleFullscreen},
  };
  for (const Case& c : cases) {
    Keyboard fresh;
    EXPECT_EQ(List(fresh.Frame({c.key})), std::vector<KeyAction>{c.action}) << "key " << c.key;
    EXPECT_EQ(fresh.Frame({c.key}).count, 0) << "key " << c.key;
  }
  Keyboard f1;
  EXPECT_EQ(f1.Frame({kKeyF1}).count, 0);  // remembered only
}

TEST(Keys, DigitsActWhileHeldAndTheHighestWins) {
  Keyboard keys;
  for (int i = 0; i < 3; ++i) {
    const KeyActions actions = keys.Frame({kKey1, Key(5), Key(3)});
    EXPECT_TRUE(actions.Has(KeyAction::kSelectScene));
    EXPECT_EQ(actions.scene, 5);
  }
  EXPECT_EQ(keys.Frame({kKey8}).scene, 8);
  EXPECT_FALSE(keys.Frame({}).Has(KeyAction::kSelectScene));
}

TEST(Keys, FrozenBlocksMusicDirectorAndSeekingButNotDigitsOrR) {
  Keyboard keys;
  keys.frozen = true;
  const KeyActions actions =
      keys.Frame({Key(2), kKeyR, kKeyM, kKeyD, kKeyLeft, kKeyRight, kKeyPageUp, kKeyPageDown, kKeyHome, kKeyEnd});
  EXPECT_EQ(List(actions), (std::vector<KeyAction>{KeyAction::kSelectScene, KeyAction::kClearFrames}));
  EXPECT_EQ(actions.scene, 2);
  // The suppressed presses were still remembered: unfreezing does not fire the held keys.
  EXPECT_EQ(List(keys.Frame({kKeySpace, kKeyM, kKeyLeft})), std::vector<KeyAction>{KeyAction::kToggleFreeze});
  EXPECT_FALSE(keys.frozen);
  EXPECT_EQ(keys.Frame({kKeyM, kKeyLeft}).count, 0);
  EXPECT_TRUE(keys.Frame({kKeyD}).Has(KeyAction::kToggleDirector));
}

TEST(Keys, SpaceInTheSameFrameDecidesForTheKeysAfterIt) {
  Keyboard keys;
  // Freezing first: the M press in the same call is ignored.
  EXPECT_EQ(List(keys.Frame({kKeySpace, kKeyM})), std::vector<KeyAction>{KeyAction::kToggleFreeze});
  keys.Frame({});
  // Unfreezing first: the D press in the same call acts.
  EXPECT_EQ(List(keys.Frame({kKeySpace, kKeyD})),
            (std::vector<KeyAction>{KeyAction::kToggleFreeze, KeyAction::kToggleDirector}));
}

TEST(Keys, EscapeClosesAndNothingElse) {
  Keyboard keys;
  EXPECT_EQ(List(keys.Frame({kKeyEscape, kKeyLeft, Key(4)})), std::vector<KeyAction>{KeyAction::kRequestClose});
  keys.finished = true;
  EXPECT_EQ(List(keys.Frame({kKeyEscape})), std::vector<KeyAction>{KeyAction::kRequestClose});
  EXPECT_TRUE(keys.finished);  // Esc is not "any key"
}

TEST(Keys, AfterTheFinaleF11TogglesWithoutRestartingAndOtherKeysRestart) {
  Keyboard keys;
  keys.finished = true;
  EXPECT_EQ(List(keys.Frame({kKeyF11})), std::vector<KeyAction>{KeyAction::kToggleFullscreen});
  EXPECT_TRUE(keys.finished);
  EXPECT_EQ(keys.Frame({kKeyF11}).count, 0);  // still held: neither toggles nor restarts
  EXPECT_EQ(keys.Frame({}).count, 0);
  EXPECT_TRUE(keys.finished);

  // Seek and music keys do nothing after the finale; the first new key restarts.
  EXPECT_EQ(List(keys.Frame({kKeyLeft, kKeyM})), std::vector<KeyAction>{KeyAction::kRestartShow});
  EXPECT_FALSE(keys.finished);
  // Held through the restart, they do not fire afterwards.
  EXPECT_EQ(keys.Frame({kKeyLeft, kKeyM}).count, 0);
  EXPECT_TRUE(keys.Frame({kKeyRight}).Has(KeyAction::kSeekForward));

  // A key held from before the end of the show does not restart it; a new press does.
  keys.Frame({kKeyHome});
  keys.finished = true;
  EXPECT_EQ(keys.Frame({kKeyHome}).count, 0);
  EXPECT_TRUE(keys.finished);
  keys.Frame({});
  EXPECT_TRUE(keys.Frame({Key(3)}).Has(KeyAction::kRestartShow));
}

TEST(StatusTitle, FormatsTheStatusLine) {
  EXPECT_EQ(StatusTitle("kestrel_prod", 3, true, false, 60.0),
            "kestrel_prod | scene 3 directed | 60.0 FPS | Space freeze | D director");
  EXPECT_EQ(StatusTitle("kestrel_prod", 5, false, true, 29.96),
            "kestrel_prod | scene 5 frozen | 30.0 FPS | Space freeze | D director");
  EXPECT_EQ(StatusTitle("kestrel_prod", 2, true, true, 0.0),
            "kestrel_prod | scene 2 directed frozen | 0.0 FPS | Space freeze | D director");
  // The text fits 160 bytes with its terminator.
  const std::string long_name(300, 'k');
  EXPECT_EQ(StatusTitle(long_name.c_str(), 1, true, false, 60.0), long_name.substr(0, 159));
}

namespace {

// One HandleKeys call as the App runs it: `held` are down at the poll, `presses` the presses the
// poll delivered (a tap shorter than a frame is pressed but no longer down). Returns every
// action of every round, in order.
std::vector<KeyAction> PollWithPresses(Keyboard& keys, std::initializer_list<Key> held,
                                       std::initializer_list<std::pair<Key, int>> presses) {
  KeyInput input;
  for (Key key : held) {
    input.down[key] = true;
    if (key != kKeyEscape) input.any = true;
  }
  for (const auto& [key, count] : presses) {
    input.presses[key] = count;
    if (key != kKeyEscape) input.any = true;
  }
  std::vector<KeyAction> all;
  const int rounds = keys.finished ? 1 : KeyRounds(input);
  for (int round = 0; round < rounds; ++round) {
    const KeyInput state = KeyRoundInput(input, round, keys.memory);
    const KeyActions actions = DecideKeyActions(state, keys.memory, keys.finished, keys.frozen);
    if (actions.Has(KeyAction::kToggleFreeze)) keys.frozen = !keys.frozen;
    if (actions.Has(KeyAction::kRestartShow)) keys.finished = false;
    for (const KeyAction action : List(actions)) all.push_back(action);
  }
  return all;
}

}  // namespace

TEST(Keys, EveryPressActsOnceHoweverShortAndHoweverManyBetweenPolls) {
  using Actions = std::vector<KeyAction>;
  Keyboard keys;
  // A tap released before the poll acts once, and not again at the next poll.
  EXPECT_EQ(PollWithPresses(keys, {}, {{kKeyRight, 1}}), Actions{KeyAction::kSeekForward});
  EXPECT_EQ(PollWithPresses(keys, {}, {}), Actions{});
  // Two taps between two polls act twice; Space twice freezes and unfreezes.
  EXPECT_EQ(PollWithPresses(keys, {}, {{kKeyD, 2}}),
            (Actions{KeyAction::kToggleDirector, KeyAction::kToggleDirector}));
  EXPECT_EQ(PollWithPresses(keys, {}, {{kKeySpace, 2}}),
            (Actions{KeyAction::kToggleFreeze, KeyAction::kToggleFreeze}));
  EXPECT_FALSE(keys.frozen);
  // A key held at the last poll, released and pressed again before this one acts again.
  EXPECT_EQ(PollWithPresses(keys, {kKeyLeft}, {{kKeyLeft, 1}}), Actions{KeyAction::kSeekBack});
  EXPECT_EQ(PollWithPresses(keys, {kKeyLeft}, {{kKeyLeft, 1}}), Actions{KeyAction::kSeekBack});
  // Held on, it does not act again.
  EXPECT_EQ(PollWithPresses(keys, {kKeyLeft}, {}), Actions{});
  // A digit tapped between polls still chooses its scene; a tapped Esc still closes.
  const Actions digit = PollWithPresses(keys, {}, {{static_cast<Key>(4), 1}});
  EXPECT_EQ(digit, Actions{KeyAction::kSelectScene});
  EXPECT_EQ(PollWithPresses(keys, {}, {{kKeyEscape, 1}}), Actions{KeyAction::kRequestClose});

  // Frozen: a tap of M is remembered but does nothing; a Space tap then M tap in one poll runs
  // the rules for each press in turn.
  keys.frozen = true;
  EXPECT_EQ(PollWithPresses(keys, {}, {{kKeyM, 1}}), Actions{});
  EXPECT_EQ(PollWithPresses(keys, {}, {}), Actions{});
  EXPECT_EQ(PollWithPresses(keys, {}, {{kKeySpace, 1}, {kKeyM, 1}}),
            (Actions{KeyAction::kToggleFreeze, KeyAction::kToggleMusic}));

  // After the finale a tap restarts the show once, even with presses of other keys in the same
  // poll.
  keys.finished = true;
  EXPECT_EQ(PollWithPresses(keys, {}, {{kKeyR, 1}, {kKeyD, 3}}), Actions{KeyAction::kRestartShow});
  EXPECT_EQ(PollWithPresses(keys, {}, {}), Actions{});
  // Rounds are bounded.
  KeyInput flood;
  flood.presses[kKeyD] = 1000;
  EXPECT_EQ(KeyRounds(flood), kMaxKeyRounds);
}
