#pragma once
// The tracker display: the music drawn as a retro tracker screen over (or under) a scene. Either a
// compact panel or a wall listing of the current pattern rows with level meters, or a large
// "assembly" listing that dresses every step of the music as scrolling lines of pseudo machine
// code inside a screen region. The synthesiser shows bass, lead, chord and effect columns, the
// module player its pattern rows and channel volumes; both come from one TrackerSnapshot.
//
// Everything here is a plain function of its arguments, except the two values the assembly
// layout keeps between frames (its flash level and the last step key), which the caller owns and
// passes in by reference. Nothing allocates: every text line is built in a fixed buffer.

#include <cstddef>
#include <cstdint>

#include "audio/audio_output.h"
#include "render/framebuffer.h"

// Values of TrackerVizSettings::mode and ::effect.
inline constexpr std::int32_t kTrackerPanel = 0;
inline constexpr std::int32_t kTrackerWall = 1;
inline constexpr std::int32_t kTrackerAssembly = 2;
inline constexpr std::int32_t kTrackerClean = 0;
inline constexpr std::int32_t kTrackerGlow = 1;
inline constexpr std::int32_t kTrackerSplat = 2;

// What the display is told by the configuration (the App's tracker options).
struct TrackerVizSettings {
  std::int32_t mode = kTrackerPanel;
  std::int32_t effect = kTrackerGlow;
  bool border = true;
  std::int32_t x = 276;  // panel and wall: top-left corner, pixels
  std::int32_t y = 120;
  std::int32_t rows = 11;             // visible rows, 5 ... 21
  float opacity = 0.72f;              // 0 ... 1
  std::int32_t assembly_region = 0;   // 0 full ... 8 bottom-right
};

// The two values the assembly layout keeps from frame to frame.
struct TrackerFlashState {
  float& flash;            // flash level, decays by 0.72 per frame
  std::int32_t& last_step; // step + 256 * bar_index of the last step seen; -1 at the start
};

// Draws the display into `fb` for the director's bar clock `clock_bar` (the display fades out
// between bars 100 and 108). `behind`: the scene will be drawn over it, so it draws no background
// and dims its text. In the glow look the panel and wall modes fade `glow` and use it as their
// glow layer. Draws nothing when opacity times the fade is at most 0.001.
void DrawTrackerViz(Framebuffer& fb, Framebuffer& glow, const TrackerSnapshot& snap,
                    const TrackerVizSettings& settings, float clock_bar, bool behind,
                    TrackerFlashState state);

// ---- Pieces of the layouts, also used by the tests ---------------------------------------------

// Rows of the panel and wall listings: rows clamped to 5 ... 21, values below 6 giving 5.
int TrackerPanelRowCount(int rows);

// A screen rectangle, pixels.
struct TrackerRect {
  int x = 0;
  int y = 0;
  int w = 0;
  int h = 0;
};

// The assembly region by its code: 0 full, 1 top, 2 bottom, 3 left, 4 right, 5 top-left,
// 6 top-right, 7 bottom-left, 8 bottom-right; codes below 0 are full, above 8 bottom-right.
TrackerRect TrackerAssemblyRegion(int code);

// Lines of the assembly listing in a region of height h: min(rows, (h - 12) / 16, 21), 5 when
// that is below 6.
int TrackerAssemblyRowCount(int rows, int h);

// The assembly listing's columns: width 204 (172 in regions narrower than 560), as many as fit up
// to three, the block right-aligned in the region when that leaves room.
struct TrackerColumns {
  int width = 0;  // cw
  int count = 0;  // m
  int x0 = 0;     // left edge of the first column
};
TrackerColumns TrackerAssemblyColumns(const TrackerRect& region);

// The flash of the assembly layout, once per drawn frame: decays, and on a new step key rises with
// the kick on the downbeat and with builds and impacts on steps 8, 12 and 14.
void UpdateTrackerFlash(const TrackerSnapshot& snap, TrackerFlashState state);

// Text of one event of a module pattern as a five-character cell: "C-401" (note, octave,
// instrument), "---1F" (instrument only), "F0A20" (effect and parameter) or "-----".
void TrackerCellText(const TrackerCell& cell, char* out, std::size_t size);

// The text of the panel and wall listings: two header lines and n row lines (n as counted by
// TrackerPanelRowCount), with which row is the playing one.
inline constexpr std::size_t kTrackerLineChars = 96;
struct TrackerListing {
  char header1[kTrackerLineChars] = {};
  char header2[kTrackerLineChars] = {};
  char rows[kTrackerVisibleRows][kTrackerLineChars] = {};
  bool current[kTrackerVisibleRows] = {};
  int count = 0;
};
void BuildTrackerListing(const TrackerSnapshot& snap, int rows, TrackerListing& out);

// One line of the assembly listing: column i, row index j (r0 ... r0 + n - 1 around the centre
// index c) and half 0 or 1 of the row's pair of lines.
struct TrackerAsmLine {
  char text[kTrackerLineChars] = {};
  bool current = false;
  int lane = 0;        // synthesiser: 0 bass, 1 lead, 2 drums, 3 pad and effects; module: channel - 1
  float activity = 0;  // P, 0 ... 1
};
void BuildTrackerAsmLine(const TrackerSnapshot& snap, int i, int j, int c, int half,
                         TrackerAsmLine& out);
