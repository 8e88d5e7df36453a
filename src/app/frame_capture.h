#pragma once
// Saving the displayed image as a binary PPM (P6) file.

#include <string>

#include "render/framebuffer.h"

// Writes the resolved `rgba` words of `image` as "P6\n<width> <height>\n255\n" followed by R, G, B
// bytes per pixel, top row first (alpha is dropped). False when the file cannot be opened or not
// every byte reaches it (a full disk, say): a truncated picture is never reported as saved.
bool WritePpm(const Framebuffer& image, const std::string& path);
