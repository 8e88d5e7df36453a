#include "render/plain_paths.h"

#include <cstdlib>
#include <cstring>

bool PlainPathsForced() {
  static const bool forced = [] {
    const char* value = std::getenv("KESTREL_PLAIN_PATHS");
    return value != nullptr && std::strcmp(value, "1") == 0;
  }();
  return forced;
}
