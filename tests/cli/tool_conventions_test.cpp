// What every program of ours does with --help and with an option it does not have: the usage on
// standard output and status 0, or the usage on standard error and status 2, and no file written.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "process.h"

namespace {

TEST(ToolConventions, HelpAndUnknownOptions) {
  const char* const programs[] = {"kestrel_prod", "kestrel_render_audio", "kestrel_xm_export", "make_dropship",
                                  "kestrel_pack"};
  for (const char* name : programs) {
    SCOPED_TRACE(name);
    const std::string program = std::string(KESTREL_BINARY_DIR) + "/" + name;
    ScratchDir dir;

    const ProcessResult help = RunProcess({program, "--help"}, dir.path);
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("sage: "), std::string::npos) << help.out;
    EXPECT_EQ(help.err, "");

    if (std::string(name) != "kestrel_prod") {  // the show ignores words it does not know
      const ProcessResult bad = RunProcess({program, "--no-such-option"}, dir.path);
      EXPECT_EQ(bad.status, 2);
      EXPECT_EQ(bad.out, "");
      EXPECT_NE(bad.err.find("sage: "), std::string::npos) << bad.err;
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path));
  }
}

// The show falls back to the built-in track; the tools stop instead, and say only that.
TEST(ToolConventions, AToolThatStopsClaimsNoFallback) {
  ScratchDir dir;
  {
    std::ofstream bad(dir / "bad.txt");
    bad << "tempo = 140\n";
  }
  for (const char* name : {"kestrel_render_audio", "kestrel_xm_export"}) {
    SCOPED_TRACE(name);
    const std::string out = (dir / "out.bin").string();
    const ProcessResult r =
        RunProcess({std::string(KESTREL_BINARY_DIR) + "/" + name, "--track", "bad.txt", out}, dir.path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string(name) + ": Invalid synth track bad.txt: line 1: unknown key 'tempo'\n");
    EXPECT_FALSE(std::filesystem::exists(out));
  }
}

}  // namespace
