#include "platform/glfw_opengl_platform.h"

#include <GLFW/glfw3.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

namespace {

// GLFW key for each logical Key value (the index).
constexpr int kGlfwKeys[] = {
    GLFW_KEY_ESCAPE, GLFW_KEY_1,     GLFW_KEY_2,         GLFW_KEY_3,         GLFW_KEY_4,
    GLFW_KEY_5,      GLFW_KEY_6,     GLFW_KEY_7,         GLFW_KEY_8,         GLFW_KEY_R,
    GLFW_KEY_F1,     GLFW_KEY_F11,   GLFW_KEY_SPACE,     GLFW_KEY_M,         GLFW_KEY_D,
    GLFW_KEY_LEFT,   GLFW_KEY_RIGHT, GLFW_KEY_PAGE_UP,   GLFW_KEY_PAGE_DOWN, GLFW_KEY_HOME,
    GLFW_KEY_END,
};
constexpr int kKeyCount = static_cast<int>(sizeof(kGlfwKeys) / sizeof(kGlfwKeys[0]));
static_assert(kKeyCount == kKeyEnd + 1, "one GLFW key per logical Key");

[[noreturn]] void FailWindowSystem(const char* message) {
  std::fputs(message, stderr);
  std::exit(1);
}

}  // namespace

std::unique_ptr<Platform> CreatePlatform(const PlatformConfig& config) {
  return std::unique_ptr<Platform>(new (std::nothrow) GlfwOpenGLPlatform(config));
}

GlfwOpenGLPlatform::GlfwOpenGLPlatform(const PlatformConfig& config)
    : windowed_width(config.width), windowed_height(config.height), vsync(config.vsync) {
  if (!glfwInit()) FailWindowSystem("glfwInit failed\n");

  // A legacy 2.1 context: the display needs nothing beyond fixed-function texturing.
  glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 2);
  glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 1);

  // Full screen at start-up goes to the primary monitor in its current video mode.
  GLFWmonitor* monitor = nullptr;
  int width = config.width;
  int height = config.height;
  if (config.fullscreen) {
    GLFWmonitor* primary = glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = primary ? glfwGetVideoMode(primary) : nullptr;
    if (mode) {
      monitor = primary;
      width = mode->width;
      height = mode->height;
    }
  }
  is_fullscreen = monitor != nullptr;

  window = glfwCreateWindow(width, height, config.title, monitor, nullptr);
  if (!window) {
    glfwTerminate();
    FailWindowSystem("glfwCreateWindow failed\n");
  }
  glfwMakeContextCurrent(window);
  glfwSwapInterval(vsync ? 1 : 0);

  // Every press is counted as it arrives, so that none is lost between two polls.
  glfwSetWindowUserPointer(window, this);
  glfwSetKeyCallback(window, &GlfwOpenGLPlatform::OnKey);

  // Nearest filtering keeps the 640 x 360 pixels hard-edged when scaled up.
  GLuint id = 0;
  glGenTextures(1, &id);
  texture = id;
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
}

GlfwOpenGLPlatform::~GlfwOpenGLPlatform() {
  if (texture != 0) {
    const GLuint id = texture;
    glDeleteTextures(1, &id);
  }
  if (window) glfwDestroyWindow(window);
  glfwTerminate();
}

double GlfwOpenGLPlatform::Time() { return glfwGetTime(); }

bool GlfwOpenGLPlatform::ShouldClose() { return glfwWindowShouldClose(window) != 0; }

void GlfwOpenGLPlatform::RequestClose() { glfwSetWindowShouldClose(window, GLFW_TRUE); }

// Presses that arrive outside a poll (GLFW may deliver events inside other calls) are kept for
// the next one.
void GlfwOpenGLPlatform::PollEvents() {
  glfwPollEvents();
  reported_presses = pending_presses;
  reported_any = pending_any;
  pending_presses.fill(0);
  pending_any = false;
}

void GlfwOpenGLPlatform::OnKey(GLFWwindow* window, int key, int, int action, int) {
  auto* self = static_cast<GlfwOpenGLPlatform*>(glfwGetWindowUserPointer(window));
  if (self == nullptr || action != GLFW_PRESS) return;  // auto-repeat is not a new press
  if (key != GLFW_KEY_ESCAPE && key >= GLFW_KEY_SPACE && key <= GLFW_KEY_LAST)
    self->pending_any = true;
  for (int logical = 0; logical < kKeyCount; ++logical) {
    if (kGlfwKeys[logical] != key) continue;
    int32_t& count = self->pending_presses[logical];
    if (count < INT32_MAX) ++count;
  }
}

bool GlfwOpenGLPlatform::IsKeyDown(int key) {
  if (key < 0 || key >= kKeyCount) return false;  // not a logical key: never pressed
  return glfwGetKey(window, kGlfwKeys[key]) == GLFW_PRESS;
}

int GlfwOpenGLPlatform::KeyPresses(int key) {
  if (key < 0 || key >= kKeyCount) return 0;
  return reported_presses[key];
}

bool GlfwOpenGLPlatform::AnyKeyDown() {
  if (reported_any) return true;  // a tap already released again still counts
  for (int code = GLFW_KEY_SPACE; code <= GLFW_KEY_LAST; ++code) {
    if (code == GLFW_KEY_ESCAPE) continue;  // Escape quits; it never counts as "any key"
    if (glfwGetKey(window, code) == GLFW_PRESS) return true;
  }
  return false;
}

bool GlfwOpenGLPlatform::IsFullscreen() { return is_fullscreen; }

void GlfwOpenGLPlatform::SetFullscreen(bool on) {
  if (on == is_fullscreen) return;

  if (!on) {
    glfwSetWindowMonitor(window, nullptr, windowed_x, windowed_y, windowed_width, windowed_height,
                         0);
  } else {
    // Remember where the window was, then go full screen on the monitor that holds most of it.
    int x = 0, y = 0, w = 0, h = 0;
    glfwGetWindowPos(window, &x, &y);
    glfwGetWindowSize(window, &w, &h);
    windowed_x = x;
    windowed_y = y;
    windowed_width = w;
    windowed_height = h;

    int count = 0;
    GLFWmonitor** monitors = glfwGetMonitors(&count);
    std::vector<ScreenRect> rects;
    for (int i = 0; monitors && i < count; ++i) {
      ScreenRect rect;
      glfwGetMonitorPos(monitors[i], &rect.x, &rect.y);
      if (const GLFWvidmode* mode = glfwGetVideoMode(monitors[i])) {
        rect.width = mode->width;
        rect.height = mode->height;
      }
      rects.push_back(rect);
    }
    const ScreenRect window_rect{x, y, w, h};
    const int32_t best = ChooseMonitor(window_rect, rects.data(), static_cast<int32_t>(rects.size()));
    GLFWmonitor* monitor = best >= 0 ? monitors[best] : glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = monitor ? glfwGetVideoMode(monitor) : nullptr;
    if (!mode) return;  // no usable monitor: stay windowed
    glfwSetWindowMonitor(window, monitor, 0, 0, mode->width, mode->height, mode->refreshRate);
  }

  is_fullscreen = on;
  glfwSwapInterval(vsync ? 1 : 0);
}

void GlfwOpenGLPlatform::SetTitle(const char* text) { glfwSetWindowTitle(window, text); }

void GlfwOpenGLPlatform::Present(const Framebuffer& image) {
  const GLsizei image_width = static_cast<GLsizei>(image.width);
  const GLsizei image_height = static_cast<GLsizei>(image.height);

  // Letterbox.
  int w = 0, h = 0;
  glfwGetFramebufferSize(window, &w, &h);
  const float aspect = static_cast<float>(image.width) / static_cast<float>(image.height);
  const Viewport view = LetterboxViewport(w, h, aspect);

  // Upload the whole resolved image (bytes R, G, B, A in memory).
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image_width, image_height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
               image.rgba.data());

  // Clear the whole window: whatever the image does not cover is a black bar.
  glViewport(0, 0, w, h);
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_BLEND);
  glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);

  // Unit square projection with y down, so the image's first row is at the top.
  glViewport(view.x, view.y, view.width, view.height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glOrtho(0.0, 1.0, 1.0, 0.0, -1.0, 1.0);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();

  // One textured quad; texture coordinates equal the vertex positions.
  glEnable(GL_TEXTURE_2D);
  glBindTexture(GL_TEXTURE_2D, texture);
  glColor3f(1.0f, 1.0f, 1.0f);
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 0.0f);
  glVertex2f(0.0f, 0.0f);
  glTexCoord2f(1.0f, 0.0f);
  glVertex2f(1.0f, 0.0f);
  glTexCoord2f(1.0f, 1.0f);
  glVertex2f(1.0f, 1.0f);
  glTexCoord2f(0.0f, 1.0f);
  glVertex2f(0.0f, 1.0f);
  glEnd();
  glDisable(GL_TEXTURE_2D);
}

void GlfwOpenGLPlatform::SwapBuffers() { glfwSwapBuffers(window); }
