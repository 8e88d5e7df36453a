#pragma once
// The mixing console at the centre of the arena and the operator playing it: lit top, patterned
// front panel, two platters, knobs, faders, pads, meters, an equaliser wall, the operator with his
// headphones and arms, searchlights and a bouncing crowd. Everything is drawn with the arena's
// SplatWorld / SplatSegment in world coordinates (x right, y up, z away from the default viewer;
// the operator faces -z), every intensity scaled by the console brightness k.

#include <cstdint>

#include "config/scene_params.h"
#include "render/camera.h"
#include "render/framebuffer.h"
#include "render/math.h"
#include "render/primitives.h"
#include "timeline/music_viz.h"

// What drives the console in one frame: the music when it plays, else a built-in pulse.
struct ConsoleDrivers {
  float beat = 0.0f;   // beats, about 4 per bar
  float bars = 0.0f;   // bars
  float L[8] = {};     // L1..L8: lead, build, bass, impact, perc, fill, clap, kick
  float ph = 0.0f;     // position inside the step, 0 to 1
  float pulse = 0.0f;  // the built-in pulse (0 with music)
  float groove = 0.0f;
  float u = 0.0f;      // enlarges every console splat and ripples the surface
};
// With music: the MusicViz levels (mv.beat replaced by 1.72 t when not finite). Without: a short
// pulse 1.72 times per second drives levels, steps and bars.
ConsoleDrivers MakeConsoleDrivers(float t, const MusicViz& mv);

// Height of the console surface at (x, z): a gentle slope toward the viewer, rippling with u.
float ConsoleSurface(float x, float z, float u, float t);

// One arm's target: the wrist, the fingertip and three shape amounts.
struct ArmPose {
  Vec3 hand;
  Vec3 tip;
  float reach = 0.0f;
  float bend = 0.0f;
  float press = 0.0f;
};

// The operator's sway terms of one frame.
struct OperatorSway {
  float hb = 0.0f;   // head bob
  float sx1 = 0.0f;  // quick sideways sway
  float sx2 = 0.0f;  // slow sideways sway
  float sz = 0.0f;   // lean
  float sy = 0.0f;   // shoulder rise
  float cb = 0.0f;   // head turn
  Vec3 head;         // head centre H
};
OperatorSway MakeOperatorSway(const ConsoleDrivers& d);

// Phrase position P (0 to 4 bars) and phrase index G of a bar count.
float PhrasePosition(float bars);
int PhraseIndex(float bars);

// The three gestures: both arms up, pumping on the beat, a hand at the headphones. s is the side
// (-1 left, +1 right), b the amount.
ArmPose PoseHandsUp(float s, float b, const ConsoleDrivers& d, const OperatorSway& w);
ArmPose PosePump(float s, float b, const ConsoleDrivers& d, const OperatorSway& w);
ArmPose PoseHeadphone(float s, float b, const ConsoleDrivers& d, const OperatorSway& w);
// The hand on its platter, scratching, blended by reach_weight toward its station on the
// console (cross fader cap for the left hand, a knob or a pad for the right).
ArmPose PoseRest(float s, float reach_weight, const ConsoleDrivers& d, float t);
// Both hands' final poses: the rest pose blended toward each gesture by its weight.
void OperatorPoses(const ConsoleDrivers& d, const OperatorSway& w, const MusicViz& mv, float t,
                   ArmPose& left, ArmPose& right);

// Element drawers. `seed` is the element's own salt for the density gate; u the splat growth.
void DrawKnob(const SplatTarget& fb, const CameraBasis& cam, float x, float z, float value, float glow,
              Vec3 col, float k, float u, float t, const DebugParams& dp, std::uint32_t seed);
void DrawChannelFader(const SplatTarget& fb, const CameraBasis& cam, float x, float z0, float z1, float value,
                      float glow, Vec3 col, float k, float u, float t, const DebugParams& dp,
                      std::uint32_t seed);
void DrawCrossFader(const SplatTarget& fb, const CameraBasis& cam, float x0, float x1, float z, float value,
                    float glow, Vec3 col, float k, float u, float t, const DebugParams& dp,
                    std::uint32_t seed);
void DrawPad(const SplatTarget& fb, const CameraBasis& cam, float x, float z, float lit, Vec3 col, float k,
             float u, float t, const DebugParams& dp, std::uint32_t seed);
void DrawMeter(const SplatTarget& fb, const CameraBasis& cam, float x, float z, float level, Vec3 col,
               float k, float u, float t, const DebugParams& dp, std::uint32_t seed);

// A limb from a to b as five rows of splats around its axis, thickest in the middle.
void DrawLimb(const SplatTarget& fb, const CameraBasis& cam, Vec3 a, Vec3 b, Vec3 col, float thickness,
              float k, float u, const DebugParams& dp, std::uint32_t seed);
// The hand from the wrist to the fingertip, with five fingers spread by the reach.
void DrawHand(const SplatTarget& fb, const CameraBasis& cam, const ArmPose& pose, float s, Vec3 col, float k,
              float u, const DebugParams& dp, std::uint32_t seed);
// Shoulder, elbow, upper arm, forearm and hand of side s for the given pose.
void DrawArm(const SplatTarget& fb, const CameraBasis& cam, const ArmPose& pose, float s, Vec3 col,
             const ConsoleDrivers& d, const OperatorSway& w, float k, const DebugParams& dp,
             std::uint32_t seed);

// The searchlight beams rising from the console (never thinned).
void DrawSearchlights(const SplatTarget& fb, const CameraBasis& cam, float t, const ConsoleDrivers& d,
                      float k, const DebugParams& dp);

// Everything of the console and the operator; nothing when k <= 0.001.
void DrawConsoleAndOperator(const SplatTarget& fb, const CameraBasis& cam, float t, const DebugParams& dp,
                            const MusicViz& mv, float k);
