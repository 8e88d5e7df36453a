// Bench runs of the real kestrel_prod: the sequence given with --sequence, found only inside a
// pack, or chosen by the settings files in the working directory decides the active scene that
// the bench line reports.

#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "../assets/scratch_dir.h"
#include "assets/asset_pack.h"

namespace {

const std::string kShow = std::string(KESTREL_BINARY_DIR) + "/kestrel_prod";

struct BenchLine {
    int scene = -1;
    int active_scene = -1;
};

// Runs one bench frame and reads scene= and active_scene= from the bench line.
BenchLine RunBench(const ScratchDir& scratch, const std::string& cwd, const std::string& args,
                   const std::string& program = kShow) {
    const CommandResult run = RunCommand(scratch, cwd, program, "--bench --frames 1 " + args);
    EXPECT_EQ(run.status, 0) << args << "\n" << run.err;
    EXPECT_EQ(run.err, "") << args;
    std::smatch match;
    static const std::regex line(R"(^bench scene=(\d+) active_scene=(\d+) frames=1 seconds=\S+ fps=\S+\n$)");
    BenchLine result;
    if (!std::regex_match(run.out, match, line)) {
        ADD_FAILURE() << "no bench line for " << args << ": " << run.out;
        return result;
    }
    result.scene = std::stoi(match[1]);
    result.active_scene = std::stoi(match[2]);
    return result;
}

// A copy of the program with no data/ beside it, so only what a test puts in place is found.
std::string LonelyCopyOfTheShow(const ScratchDir& scratch) {
    const std::string copy = scratch / "bin/kestrel_prod";
    std::filesystem::create_directories(scratch / "bin");
    std::filesystem::copy_file(kShow, copy);
    return copy;
}

void PackSequence(const std::string& pack_path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(pack_path).parent_path());
    std::string error;
    ASSERT_TRUE(WritePack(pack_path, {{"data/kestrel/kestrel_sequence.txt", Bytes(text)}}, &error)) << error;
}

TEST(SequenceCommandLine, SequenceOptionChoosesTheTimeline) {
    ScratchDir dir;
    dir.Write("orbs.txt", "section = 0 128 scene=5 label=orbs\n");
    dir.Write("faulty.txt", "section = 0 128 scene=5\nsection = 0 8 scene=99\n");
    const std::string cwd = dir.Path();

    EXPECT_EQ(RunBench(dir, cwd, "--sequence orbs.txt").active_scene, 5);
    EXPECT_EQ(RunBench(dir, cwd, "--sequence '" + dir / "orbs.txt" + "' --bar-offset 100").active_scene, 5);
    // A faulty file is replaced whole by the built-in sequence (bars 112..128: scene 3).
    EXPECT_EQ(RunBench(dir, cwd, "--sequence faulty.txt --bar-offset 113").active_scene, 3);
}

TEST(SequenceCommandLine, SequenceFoundOnlyInsideThePack) {
    ScratchDir dir;
    const std::string show = LonelyCopyOfTheShow(dir);
    std::filesystem::create_directories(dir / "work");

    // Nothing anywhere: the built-in sequence.
    EXPECT_EQ(RunBench(dir, dir / "work", "--bar-offset 113", show).active_scene, 3);
    // data/assets.pack in the working directory.
    PackSequence(dir / "work/data/assets.pack", "section = 0 128 scene=7\n");
    EXPECT_EQ(RunBench(dir, dir / "work", "", show).active_scene, 7);
    // data/assets.pack beside the executable, run from elsewhere.
    std::filesystem::remove_all(dir / "work/data");
    PackSequence(dir / "bin/data/assets.pack", "section = 0 128 scene=6\n");
    EXPECT_EQ(RunBench(dir, dir / "work", "", show).active_scene, 6);
    // A loose file wins over the pack.
    dir.Write("work/data/kestrel/kestrel_sequence.txt", "section = 0 128 scene=8\n");
    EXPECT_EQ(RunBench(dir, dir / "work", "", show).active_scene, 8);
}

// The shipped data packed with kestrel_pack drives a copy of the show that has no loose data
// exactly as the loose files drive the built show.
TEST(SequenceCommandLine, ShippedDataPackedWithTheToolPlaysTheSameTimeline) {
    ScratchDir dir;
    const std::string show = LonelyCopyOfTheShow(dir);
    std::filesystem::create_directories(dir / "work");
    std::filesystem::create_directories(dir / "bin/data");
    const std::string source = KESTREL_SOURCE_DIR;
    const CommandResult packed = RunCommand(dir, dir.Path(), std::string(KESTREL_BINARY_DIR) + "/kestrel_pack",
                                            "create bin/data/assets.pack --root '" + source + "' '" + source + "/data'");
    ASSERT_EQ(packed.status, 0) << packed.err;
    for (const char* bar : {"0", "20", "50", "90", "113"}) {
        const std::string args = std::string("--bar-offset ") + bar;
        EXPECT_EQ(RunBench(dir, dir / "work", args, show).active_scene, RunBench(dir, dir / "work", args).active_scene)
            << args;
    }
}

TEST(SequenceCommandLine, SettingsFilesInTheWorkingDirectoryChangeTheScene) {
    ScratchDir dir;
    const std::string cwd = dir.Path();
    dir.Write("data/kestrel/kestrel_settings.txt", "scene=5\ndirector=0\n");
    EXPECT_EQ(RunBench(dir, cwd, "").active_scene, 5);

    // The local file is applied after the shared one; the command line after both.
    dir.Write("data/kestrel/kestrel_settings.local.txt", "scene=6\n");
    const BenchLine local = RunBench(dir, cwd, "");
    EXPECT_EQ(local.scene, 6);
    EXPECT_EQ(local.active_scene, 6);
    EXPECT_EQ(RunBench(dir, cwd, "--scene 2").active_scene, 2);

    // Settings choose the sequence file; the director follows it.
    dir.Write("data/kestrel/kestrel_settings.local.txt", "director=1\nsequence_path=alt/seq.txt\n");
    dir.Write("alt/seq.txt", "section = 0 128 scene=4\n");
    EXPECT_EQ(RunBench(dir, cwd, "").active_scene, 4);
}

}  // namespace
