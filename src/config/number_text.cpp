#include "config/number_text.h"

#include <cfloat>
#include <cstdlib>
#include <limits>

float ReadFloat(const std::string& text) {
  const double x = std::strtod(text.c_str(), nullptr);
  // A double beyond the float range has no float value; keep its direction.
  if (x > FLT_MAX) return std::numeric_limits<float>::infinity();
  if (x < -FLT_MAX) return -std::numeric_limits<float>::infinity();
  return static_cast<float>(x);
}

long long ReadInt(const std::string& text) {
  // strtoll saturates at the ends of long long instead of overflowing.
  return std::strtoll(text.c_str(), nullptr, 10);
}
