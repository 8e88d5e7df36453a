#pragma once
// The one Platform: GLFW for the window, keyboard and clock; legacy fixed-function OpenGL 2.1 for
// display (one texture uploaded per frame, one quad).

#include <array>
#include <cstdint>

#include "platform/platform.h"

struct GLFWwindow;

class GlfwOpenGLPlatform final : public Platform {
 public:
  explicit GlfwOpenGLPlatform(const PlatformConfig& config);
  ~GlfwOpenGLPlatform() override;
  GlfwOpenGLPlatform(const GlfwOpenGLPlatform&) = delete;
  GlfwOpenGLPlatform& operator=(const GlfwOpenGLPlatform&) = delete;

  double Time() override;
  bool ShouldClose() override;
  void RequestClose() override;
  void PollEvents() override;
  bool IsKeyDown(int key) override;
  int KeyPresses(int key) override;
  bool AnyKeyDown() override;
  bool IsFullscreen() override;
  void SetFullscreen(bool on) override;
  void SetTitle(const char* text) override;
  void Present(const Framebuffer& image) override;
  void SwapBuffers() override;

 private:
  GLFWwindow* window = nullptr;
  unsigned int texture = 0;  // GLuint of the display texture
  int32_t windowed_x = 80;   // window placement restored when leaving full screen
  int32_t windowed_y = 80;
  int32_t windowed_width = 0;
  int32_t windowed_height = 0;
  bool vsync = true;
  bool is_fullscreen = false;
  // Key presses counted by the key callback as the window system delivers them (pending) and
  // those of the last PollEvents (reported), per logical Key; a tap shorter than a frame is
  // released again before the show looks, so its state alone would lose it.
  std::array<int32_t, kKeyEnd + 1> pending_presses{};
  std::array<int32_t, kKeyEnd + 1> reported_presses{};
  bool pending_any = false;   // a key other than Escape was pressed
  bool reported_any = false;

  static void OnKey(GLFWwindow* window, int key, int scancode, int action, int mods);
};
