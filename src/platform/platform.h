#pragma once
// The show's boundary to the operating system: a window, keyboard state, a clock and one way to put
// a finished image on screen. Nothing outside src/platform/ sees the windowing library or OpenGL;
// bench runs create no platform at all.

#include <cstdint>
#include <functional>
#include <memory>

#include "render/framebuffer.h"

// Logical keys the App asks about; the values are the arguments of IsKeyDown.
enum Key : int32_t {
  kKeyEscape = 0,
  kKey1 = 1,  // digits 1..8 are 1..8
  kKey8 = 8,
  kKeyR = 9,
  kKeyF1 = 10,
  kKeyF11 = 11,
  kKeySpace = 12,
  kKeyM = 13,
  kKeyD = 14,
  kKeyLeft = 15,
  kKeyRight = 16,
  kKeyPageUp = 17,
  kKeyPageDown = 18,
  kKeyHome = 19,
  kKeyEnd = 20,
};

struct PlatformConfig {
  int32_t width = 1280;
  int32_t height = 720;
  const char* title = "kestrel_prod";
  bool vsync = true;
  bool fullscreen = true;
};

class Platform {
 public:
  virtual ~Platform() = default;
  virtual double Time() = 0;  // seconds since the windowing library started
  virtual bool ShouldClose() = 0;
  virtual void RequestClose() = 0;
  virtual void PollEvents() = 0;
  virtual bool IsKeyDown(int key) = 0;
  // Presses of one Key that the last PollEvents delivered, however short: a key pressed and
  // released between two polls is down at neither, yet each of its presses counts here.
  // Platforms that only know the current state report none.
  virtual int KeyPresses(int key) {
    (void)key;
    return 0;
  }
  // Any key but Escape held, or pressed during the last PollEvents.
  virtual bool AnyKeyDown() = 0;
  virtual bool IsFullscreen() = 0;
  virtual void SetFullscreen(bool on) = 0;
  virtual void SetTitle(const char* text) = 0;
  virtual void Present(const Framebuffer& image) = 0;  // letterboxed into the window
  virtual void SwapBuffers() = 0;
};

// Opens the window. The two start-up failures of the window system are fatal: they print their
// message on standard error and end the process with status 1. Out of memory yields null.
std::unique_ptr<Platform> CreatePlatform(const PlatformConfig& config);

// How the App obtains its platform: CreatePlatform for the show; tests pass one that scripts the
// clock and the keyboard.
using PlatformFactory = std::function<std::unique_ptr<Platform>(const PlatformConfig&)>;

// Placement of the image inside the window: the largest rectangle of the image's aspect that fits,
// centred; the rest of the window is black bars. Pixel units, origin at the bottom left as OpenGL's
// viewport has it (the bars are symmetric, so the origin does not change the numbers).
struct Viewport {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};
Viewport LetterboxViewport(int32_t window_width, int32_t window_height, float aspect);

// A rectangle on the virtual desktop, in screen coordinates.
struct ScreenRect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;
};

// Index of the monitor whose rectangle overlaps the window rectangle with the largest area; the
// first wins ties. -1 when the list is empty or no monitor overlaps the window by at least 1 pixel.
int32_t ChooseMonitor(const ScreenRect& window, const ScreenRect* monitors, int32_t count);
