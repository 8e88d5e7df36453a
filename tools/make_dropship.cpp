// make_dropship: samples the dropship's edge list (tools/dropship_shape.h) into the built-in dot
// model of scene 3 and writes it as C++ source. Every edge becomes 2 to 30 evenly spaced dots,
// about one per equal length of edge, with the spacing chosen so that the whole craft has
// exactly kDropshipPoints dots; each edge's dots are brightest and largest in its middle and
// taper toward its ends. The right half's edges come first, each followed by its mirror image.
//
//   make_dropship [OUT.cpp]      (standard output without OUT.cpp)
//
// The committed table is src/scenes/dropship_model.cpp; a test checks that it is exactly what
// this program writes.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dropship_shape.h"
#include "scenes/dot_field.h"

namespace {

constexpr int kMinDots = 2;
constexpr int kMaxDots = 30;

// An edge of the right half and the number of dots it gets; off the centre plane the edge's
// mirror image gets as many.
struct Sampled {
  dropship::Edge edge;
  int copies;  // 1 in the centre plane, else 2
  int dots;
};

int DotsFor(double length, double per_unit) {
  const double n = std::floor(length * per_unit + 0.5);
  return static_cast<int>(std::clamp(n, static_cast<double>(kMinDots), static_cast<double>(kMaxDots)));
}

long Total(const std::vector<Sampled>& edges) {
  long total = 0;
  for (const Sampled& s : edges) total += static_cast<long>(s.copies) * s.dots;
  return total;
}

double Length(const dropship::Edge& e) {
  const Vec3 d = e.b - e.a;
  return std::sqrt(static_cast<double>(Dot(d, d)));
}

// Dots per unit of length so that the total is as near the target as the rounding allows (not
// above it), then single dots added where the spacing is widest: in the centre plane for an
// odd remainder, anywhere for pairs.
bool ChooseCounts(std::vector<Sampled>& edges, long target) {
  double lo = 0.0;
  double hi = 1000.0;
  for (int i = 0; i < 200; ++i) {
    const double mid = 0.5 * (lo + hi);
    for (Sampled& s : edges) s.dots = DotsFor(Length(s.edge), mid);
    (Total(edges) <= target ? lo : hi) = mid;
  }
  for (Sampled& s : edges) s.dots = DotsFor(Length(s.edge), lo);

  while (Total(edges) < target) {
    const long missing = target - Total(edges);
    Sampled* widest = nullptr;
    double widest_gap = 0.0;
    for (Sampled& s : edges) {
      if (s.dots >= kMaxDots || s.copies > missing) continue;
      if (missing % 2 == 1 && s.copies != 1) continue;
      const double gap = Length(s.edge) / (s.dots - 1);
      if (!widest || gap > widest_gap) {
        widest = &s;
        widest_gap = gap;
      }
    }
    if (!widest) return false;
    widest->dots += 1;
  }
  return Total(edges) == target;
}

// A float as a C++ float literal that reads back as exactly the same float (nine significant
// digits always do).
struct Literal {
  explicit Literal(float v) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%.9g", static_cast<double>(v));
    const bool has_point = std::strpbrk(digits, ".e") != nullptr;
    std::snprintf(text, sizeof text, "%s%sf", digits, has_point ? "" : ".0");
  }
  const char* c_str() const { return text; }
  char text[40];
};

void AppendDots(const dropship::Edge& e, int dots, bool mirrored, std::vector<float>& out) {
  const Vec3 colour = dropship::kPalette[e.style.colour];
  for (int i = 0; i < dots; ++i) {
    const float s = static_cast<float>(i) / static_cast<float>(dots - 1);
    // Both ends exactly, and a coordinate the edge keeps stays exactly that value. Negating x
    // commutes with every step, so the mirror image's dots are exactly the dots mirrored.
    Vec3 p = i + 1 < dots ? e.a + (e.b - e.a) * s : e.b;
    if (mirrored) p.x = -p.x;
    const float swell = std::sin(3.14159265f * s);
    const float intensity = e.style.intensity * (0.74f + 0.26f * swell);
    const float size = e.style.size * (0.83f + 0.17f * swell);
    const float values[kDropshipFloats] = {
        p.x, p.y, p.z, colour.r, colour.g, colour.b, intensity, size, static_cast<float>(e.style.part)};
    out.insert(out.end(), values, values + kDropshipFloats);
  }
}

}  // namespace

int main(int argc, char** argv) {
  static const char kUsage[] = "usage: make_dropship [OUT.cpp]\n";
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // One output file at most; a word starting with '-' is an option this tool does not have.
  if (argc > 2 || (argc == 2 && argv[1][0] == '-')) {
    if (argc == 2) std::fprintf(stderr, "make_dropship: unknown option %s\n", argv[1]);
    std::fputs(kUsage, stderr);
    return 2;
  }

  // 1. The edges and their dot counts.
  std::vector<Sampled> edges;
  for (const dropship::Edge& e : dropship::DropshipEdges())
    edges.push_back({e, dropship::InCentrePlane(e) ? 1 : 2, kMinDots});
  if (!ChooseCounts(edges, static_cast<long>(kDropshipPoints))) {
    std::fprintf(stderr, "make_dropship: cannot place exactly %zu dots on %zu edges\n", kDropshipPoints,
                 edges.size());
    return 1;
  }

  // 2. The dots, edge by edge, each off-plane edge followed by its mirror image.
  std::vector<float> model;
  std::size_t edge_count = 0;
  for (const Sampled& s : edges) {
    AppendDots(s.edge, s.dots, false, model);
    if (s.copies == 2) AppendDots(s.edge, s.dots, true, model);
    edge_count += static_cast<std::size_t>(s.copies);
  }

  // 3. The source file.
  std::FILE* out = argc == 2 ? std::fopen(argv[1], "wb") : stdout;
  if (!out) {
    std::fprintf(stderr, "make_dropship: cannot write %s\n", argv[1]);
    return 1;
  }
  std::fprintf(out,
               "// The dropship of scene 3: %zu dots sampled from %zu edges. Written by "
               "tools/make_dropship\n// from tools/dropship_shape.h; change the edges there and "
               "run it again instead of editing\n// this table. Per dot: x, y, z, r, g, b, "
               "intensity, size, part.\n\n#include \"scenes/dot_field.h\"\n\n"
               "const float kDropshipModel[kDropshipPoints * kDropshipFloats] = {\n",
               kDropshipPoints, edge_count);
  for (std::size_t i = 0; i < model.size(); i += kDropshipFloats) {
    std::fputs("   ", out);
    for (std::size_t k = 0; k < kDropshipFloats; ++k)
      std::fprintf(out, " %s,", Literal(model[i + k]).c_str());
    std::fputs("\n", out);
  }
  std::fputs("};\n", out);
  const bool written = std::ferror(out) == 0;
  if (out != stdout && std::fclose(out) != 0) return 1;
  return written ? 0 : 1;
}
