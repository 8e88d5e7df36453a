// The installed show: `cmake --install` puts the program, its tools and data/ side by side, and
// the installed tools work with the installed show from any working directory.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "process.h"

namespace {

TEST(Install, ToolsAndDataSitBesideTheShow) {
  ScratchDir dir;
  const std::filesystem::path bin = dir / "prefix/bin";
  const ProcessResult install = RunProcess(
      {KESTREL_CMAKE_COMMAND, "--install", KESTREL_BINARY_DIR, "--prefix", (dir / "prefix").string()},
      dir.path);
  ASSERT_EQ(install.status, 0) << install.out << install.err;

  for (const char* program : {"kestrel_prod", "kestrel_pack", "kestrel_render_audio"}) {
    EXPECT_EQ(access((bin / program).c_str(), X_OK), 0) << program;
  }
  EXPECT_TRUE(std::filesystem::is_regular_file(bin / "data/kestrel/kestrel_sequence.txt"));

  // A settings file packed with the installed tool into the pack beside the installed show
  // chooses the scene, with the show started from another directory.
  std::filesystem::create_directories(dir / "src/data/kestrel");
  std::filesystem::create_directories(dir / "elsewhere");
  std::ofstream(dir / "src/data/kestrel/kestrel_settings.txt") << "scene=6\ndirector=0\n";
  // A loose file comes before the pack, so the settings file installed with the show would hide
  // the packed one: this show carries its settings in the pack only.
  EXPECT_TRUE(std::filesystem::remove(bin / "data/kestrel/kestrel_settings.txt"));
  const ProcessResult pack =
      RunProcess({(bin / "kestrel_pack").string(), "create", (bin / "data/assets.pack").string(), "data"},
                 dir / "src");
  ASSERT_EQ(pack.status, 0) << pack.err;

  const ProcessResult show =
      RunProcess({(bin / "kestrel_prod").string(), "--bench", "--frames", "1"}, dir / "elsewhere");
  EXPECT_EQ(show.status, 0);
  EXPECT_EQ(show.err, "");
  EXPECT_EQ(show.out.rfind("bench scene=6 active_scene=6 frames=1 seconds=", 0), 0u) << show.out;
}

}  // namespace
