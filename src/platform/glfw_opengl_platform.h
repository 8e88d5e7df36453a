#pragma once
// The one Platform: GLFW for the window, keyboard and clock; legacy fixed-function OpenGL 2.1 for
// display (one texture uploaded per frame, one quad).

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
};
