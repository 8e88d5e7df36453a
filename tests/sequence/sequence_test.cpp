// The sequence file: every error message at its line, the accepted forms, the built-in fallback
// with its status text, and the music choices a file may make.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../assets/scratch_dir.h"
#include "assets/asset_pack.h"
#include "assets/asset_store.h"
#include "timeline/sequence.h"

namespace {

const std::string kFixtures = std::string(KESTREL_TEST_DATA) + "/sequence/";

struct ErrorCase {
    std::string text;
    int line;
    std::string message;
};

TEST(SequenceParse, EveryErrorMessageAtItsLine) {
    const std::vector<ErrorCase> cases = {
        {"section 0 16", 1, "expected key=value"},
        {"section = 0 16", 1, "section expects start end scene=N"},
        {"section =", 1, "section expects start end scene=N"},
        {"section = 0 x scene=1", 1, "invalid section bar range"},
        {"section = 0 16x scene=1", 1, "invalid section bar range"},
        {"section = 0 16 1", 1, "expected section option key=value"},
        {"section = 0 16 =3", 1, "expected section option key=value"},
        {"section = 0 16 scene=2x", 1, "invalid section scene"},
        {"section = 0 16 scene=", 1, "invalid section scene"},
        {"section = 0 16 scene=2.5", 1, "invalid section scene"},
        {"section = 0 16 colour=red", 1, "unknown section option 'colour'"},
        {"section = 120 130 scene=2", 1, "section is outside loop or scene range"},
        {"section = -1 16 scene=2", 1, "section is outside loop or scene range"},
        {"section = 16 16 scene=2", 1, "section is outside loop or scene range"},
        {"section = 0 16 scene=9", 1, "section is outside loop or scene range"},
        {"section = 0 16 scene=0", 1, "section is outside loop or scene range"},
        {"section = 0 16 scene=4294967297", 1, "section is outside loop or scene range"},
        {"section = 0 nan scene=1", 1, "section is outside loop or scene range"},
        {"section = 0 inf scene=1", 1, "section is outside loop or scene range"},
        {"cue = 0 8", 1, "cue expects start end name"},
        {"cue = a 8 title", 1, "invalid cue bar range"},
        {"cue = 0 8b title", 1, "invalid cue bar range"},
        {"cue = 0 8 title=x", 1, "cue third token must be name or name=..."},
        {"cue = 0 8 x amount=big", 1, "invalid cue amount"},
        {"cue = 0 8 x amount=inf", 1, "invalid cue amount"},
        {"cue = 0 8 x fade_in=", 1, "invalid cue fade_in"},
        {"cue = 0 8 x fade_out=nan", 1, "invalid cue fade_out"},
        {"cue = 0 8 x colour=1", 1, "unknown cue option 'colour'"},
        {"cue = 0 8 x 1 2 abc", 1, "invalid positional cue value"},
        {"cue = 0 8 x 1 2 3 4", 1, "too many positional cue values"},
        {"cue = 8 4 x", 1, "cue is outside loop or has invalid values"},
        {"cue = 0 8 name=", 1, "cue is outside loop or has invalid values"},
        {"cue = 0 129 x", 1, "cue is outside loop or has invalid values"},
        {"cue = 0 8 x fade_in=-1", 1, "cue is outside loop or has invalid values"},
        {"cue = 0 8 x 1 0 -0.5", 1, "cue is outside loop or has invalid values"},
        {"loop_bars = 0.5", 1, "invalid loop_bars"},
        {"loop_bars = 64 bars", 1, "invalid loop_bars"},
        {"loop_bars =", 1, "invalid loop_bars"},
        {"loop_bars = inf", 1, "invalid loop_bars"},
        {"loop_bars = nan", 1, "invalid loop_bars"},
        {"tempo = 140", 1, "unknown key 'tempo'"},
        {"Section = 0 16 scene=1", 1, "unknown key 'Section'"},
        {"= 4", 1, "unknown key ''"},
        // Text quoted from the file is shown printable and cut short.
        {"ke\x1b[2Jy\xff = 1", 1, "unknown key 'ke\\x1b[2Jy\\xff'"},
        {"section = 0 16 \x07" "bell=1", 1, "unknown section option '\\x07bell'"},
        {std::string(100, 'k') + " = 1", 1, "unknown key '" + std::string(64, 'k') + "...'"},
        // Line numbers count comments, blank lines and carriage-return lines.
        {"# header\n\n   \r\nsection = 0 16 scene=1\nbogus line", 5, "expected key=value"},
        // loop_bars applies from its line on.
        {"loop_bars = 64\nsection = 0 128 scene=1", 2, "section is outside loop or scene range"},
        {"loop_bars = 16\ncue = 0 16.01 x", 2, "cue is outside loop or has invalid values"},
        // The first error stops reading.
        {"section = 0 16 scene=0\nbogus", 1, "section is outside loop or scene range"},
    };
    for (const ErrorCase& c : cases) {
        const SequenceParseResult result = ParseSequence(c.text);
        EXPECT_FALSE(result.ok) << c.text;
        EXPECT_EQ(result.error_line, c.line) << c.text;
        EXPECT_EQ(result.error, c.message) << c.text;
    }
}

TEST(SequenceParse, SectionForms) {
    const SequenceParseResult result = ParseSequence(
        "  section = 0 16 label=a   # scene defaults to 1\n"
        "section=16 32 scene=+3\tlabel=\n"
        "section = 32 48.0005 label=x scene=8 label=y\n");
    ASSERT_TRUE(result.ok) << result.error;
    ASSERT_EQ(result.sections.size(), 3u);
    EXPECT_EQ(result.sections[0].scene, 1);
    EXPECT_EQ(result.sections[0].label, "a");
    EXPECT_EQ(result.sections[1].scene, 3);
    EXPECT_EQ(result.sections[1].label, "");
    EXPECT_EQ(result.sections[2].end, 48.0005f);
    EXPECT_EQ(result.sections[2].scene, 8);
    EXPECT_EQ(result.sections[2].label, "y");
}

TEST(SequenceParse, CueForms) {
    struct CueCase {
        std::string line;
        std::string name;
        float amount, fade_in, fade_out;
    };
    const std::vector<CueCase> cases = {
        {"cue = 4 8 title", "title", 1.0f, 0.0f, 0.0f},
        {"cue = 4 8 title 0.8 1", "title", 0.8f, 1.0f, 0.0f},
        {"cue = 4 8 title 0.8 1 2", "title", 0.8f, 1.0f, 2.0f},
        {"cue = 4 8 name=club fade_out=2 0.5 3", "club", 0.5f, 3.0f, 2.0f},
        // Named options take no positional place; the later value wins.
        {"cue = 4 8 x amount=0.2 0.7", "x", 0.7f, 0.0f, 0.0f},
        {"cue = 4 8 x 0.7 amount=0.2", "x", 0.2f, 0.0f, 0.0f},
        {"cue = 4 8 x fade_in=1 fade_out=2 amount=-0.5", "x", -0.5f, 1.0f, 2.0f},
        {"cue = 0 128 finale 1 1 4   # comment", "finale", 1.0f, 1.0f, 4.0f},
    };
    for (const CueCase& c : cases) {
        const SequenceParseResult result = ParseSequence(c.line);
        ASSERT_TRUE(result.ok) << c.line << ": " << result.error;
        ASSERT_EQ(result.cues.size(), 1u);
        const SequenceCue& cue = result.cues[0];
        EXPECT_EQ(cue.name, c.name) << c.line;
        EXPECT_EQ(cue.amount, c.amount) << c.line;
        EXPECT_EQ(cue.fade_in, c.fade_in) << c.line;
        EXPECT_EQ(cue.fade_out, c.fade_out) << c.line;
    }
}

// A loop_bars line after the sections and cues must not leave them reaching past the loop's end
// (seeking by sections could then jump beyond it): the first one outside the final loop, in file
// order, is the error, on its own line.
TEST(SequenceParse, ALaterLoopBarsLineStillHoldsEverySectionAndCue) {
    struct Case {
        const char* text;
        bool ok;
        int line;
        const char* error;
    };
    const Case cases[] = {
        {"section = 0 100 scene=1\ncue = 50 90 flash\nloop_bars = 10\n", false, 1,
         "section is outside loop or scene range"},
        {"section = 0 10 scene=1\ncue = 50 90 flash\nloop_bars = 10\n", false, 2,
         "cue is outside loop or has invalid values"},
        {"cue = 2 64 x\nsection = 0 128 scene=1\nloop_bars = 64\n", false, 2,
         "section is outside loop or scene range"},
        {"section = 0 64 scene=1\ncue = 2 64.0005 x\nloop_bars = 64\n", true, 0, ""},
        {"loop_bars = 200\nsection = 0 150 scene=1\nloop_bars = 150\n", true, 0, ""},
    };
    for (const Case& c : cases) {
        const SequenceParseResult result = ParseSequence(c.text);
        EXPECT_EQ(result.ok, c.ok) << c.text;
        EXPECT_EQ(result.error_line, c.line) << c.text;
        EXPECT_EQ(result.error, c.error) << c.text;
    }
    EXPECT_EQ(ParseSequence("loop_bars = 200\nsection = 0 150 scene=1\nloop_bars = 150\n").loop_bars, 150.0f);
}

void ExpectBuiltIn(const SequenceTimeline& timeline) {
    SequenceTimeline built_in;
    UseBuiltInSequence("x", built_in);
    EXPECT_EQ(timeline.loop_bars, 128.0f);
    ASSERT_EQ(timeline.sections.size(), 8u);
    ASSERT_EQ(timeline.cues.size(), 4u);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(timeline.sections[i].start, built_in.sections[i].start);
        EXPECT_EQ(timeline.sections[i].end, built_in.sections[i].end);
        EXPECT_EQ(timeline.sections[i].scene, built_in.sections[i].scene);
        EXPECT_EQ(timeline.sections[i].label, built_in.sections[i].label);
    }
}

TEST(SequenceBuiltIn, TablesAndTheirFileFormAgree) {
    SequenceTimeline built_in;
    UseBuiltInSequence("No sequence file x", built_in);
    EXPECT_EQ(built_in.status, "No sequence file x; using built-in sequence");
    EXPECT_EQ(built_in.loop_bars, 128.0f);
    const int scenes[] = {1, 3, 2, 3, 1, 2, 2, 3};
    const char* labels[] = {"canyon_intro",  "dot_lift",      "object_drop", "dot_breakdown",
                            "canyon_return", "object_return", "club_stage",  "dot_finale"};
    ASSERT_EQ(built_in.sections.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) {
        EXPECT_EQ(built_in.sections[i].start, 16.0f * i);
        EXPECT_EQ(built_in.sections[i].end, 16.0f * (i + 1));
        EXPECT_EQ(built_in.sections[i].scene, scenes[i]);
        EXPECT_EQ(built_in.sections[i].label, labels[i]);
    }

    // The same sequence written as a file parses to the same tables.
    const SequenceParseResult parsed = ParseSequence(ReadFileBytes(kFixtures + "builtin_sequence.txt"));
    ASSERT_TRUE(parsed.ok) << parsed.error;
    SequenceTimeline from_file{parsed.loop_bars, parsed.sections, parsed.cues, ""};
    ExpectBuiltIn(from_file);
    ASSERT_EQ(parsed.cues.size(), built_in.cues.size());
    for (std::size_t i = 0; i < parsed.cues.size(); ++i) {
        EXPECT_EQ(parsed.cues[i].name, built_in.cues[i].name);
        EXPECT_EQ(parsed.cues[i].start, built_in.cues[i].start) << i;
        EXPECT_EQ(parsed.cues[i].end, built_in.cues[i].end) << i;
        EXPECT_EQ(parsed.cues[i].amount, built_in.cues[i].amount) << i;
        EXPECT_EQ(parsed.cues[i].fade_in, built_in.cues[i].fade_in) << i;
        EXPECT_EQ(parsed.cues[i].fade_out, built_in.cues[i].fade_out) << i;
    }
}

// LoadSequence through the asset store, from a scratch working directory.
class SequenceLoad : public ::testing::Test {
protected:
    ScratchDir dir;
    std::int32_t audio_source = 1;
    std::string xm_path = kDefaultModulePath;
    SequenceTimeline timeline;

    void Load(const std::string& path, bool source_explicit = false, bool path_explicit = false) {
        WorkingDirectory cd(dir.Path());
        AssetStore store;
        LoadSequence(store, path, MusicSelection{audio_source, source_explicit, xm_path, path_explicit}, timeline);
    }
};

TEST_F(SequenceLoad, StatusTextsAndFallback) {
    dir.Write("bad.txt", "section = 0 16 scene=1\nsection = 16 32 scene=12\n");
    dir.Write("cues_only.txt", "cue = 0 8 title\n");
    dir.Write("empty.txt", "");
    struct Case {
        std::string path;
        std::string status;
    };
    const Case cases[] = {
        {"missing.txt", "No sequence file missing.txt; using built-in sequence"},
        {"bad.txt", "Invalid sequence bad.txt line 2: section is outside loop or scene range; using built-in sequence"},
        {"cues_only.txt", "Sequence cues_only.txt has no sections; using built-in sequence"},
        {"empty.txt", "Sequence empty.txt has no sections; using built-in sequence"},
        {kFixtures + "binary_garbage.bin", ""},
        {kFixtures + "utf16_sequence.txt", ""},
        {kFixtures + "nul_bytes.txt",
         "Invalid sequence " + kFixtures + "nul_bytes.txt line 1: invalid section scene; using built-in sequence"},
    };
    for (const Case& c : cases) {
        timeline = SequenceTimeline{};
        timeline.loop_bars = 7.0f;
        Load(c.path);
        if (!c.status.empty()) {
            EXPECT_EQ(timeline.status, c.status);
        }
        EXPECT_NE(timeline.status.find("; using built-in sequence"), std::string::npos) << c.path;
        ExpectBuiltIn(timeline);
    }
}

TEST_F(SequenceLoad, LoadedFileIsSortedAndKeepsCueOrder) {
    Load(kFixtures + "crlf_sequence.txt");
    EXPECT_EQ(timeline.status, "Loaded sequence " + kFixtures + "crlf_sequence.txt sections=2 cues=1");
    EXPECT_EQ(timeline.loop_bars, 32.0f);
    ASSERT_EQ(timeline.sections.size(), 2u);
    EXPECT_EQ(timeline.sections[0].label, "orbs_a");
    EXPECT_EQ(timeline.sections[0].scene, 4);
    EXPECT_EQ(timeline.sections[1].label, "orbs_b");
    ASSERT_EQ(timeline.cues.size(), 1u);
    EXPECT_EQ(timeline.cues[0].amount, 0.5f);

    dir.Write("cues.txt", "section = 0 4 scene=2\ncue = 9 10 b\ncue = 1 2 a\n");
    Load("cues.txt");
    ASSERT_EQ(timeline.cues.size(), 2u);
    EXPECT_EQ(timeline.cues[0].name, "b");
    EXPECT_EQ(timeline.cues[1].name, "a");
}

TEST_F(SequenceLoad, SequenceFoundOnlyInThePack) {
    std::filesystem::create_directories(dir / "data");
    std::string error;
    ASSERT_TRUE(WritePack(dir / "data/assets.pack",
                          {{"data/kestrel/kestrel_sequence.txt", Bytes("section = 0 8 scene=6 label=packed\n")}},
                          &error))
        << error;
    Load(kDefaultSequencePath);
    EXPECT_EQ(timeline.status, "Loaded sequence data/kestrel/kestrel_sequence.txt sections=1 cues=0");
    ASSERT_EQ(timeline.sections.size(), 1u);
    EXPECT_EQ(timeline.sections[0].scene, 6);
}

TEST_F(SequenceLoad, MusicChoicesApplyUnlessTheCommandLineChose) {
    struct Case {
        std::string text;
        bool source_explicit, path_explicit;
        std::int32_t audio_source;
        std::string xm_path;
    };
    const std::vector<Case> cases = {
        {"audio_source = xm\nxm_path = mods/a.xm\nsection = 0 4 scene=1", false, false, 0, "mods/a.xm"},
        {"audio_source = module", false, false, 0, kDefaultModulePath},
        {"audio_source = XM\naudio_source = SYNTH", false, false, 1, kDefaultModulePath},
        {"audio_source = flac", false, false, 1, kDefaultModulePath},
        {"xm_path = mods/b.xm\nxm_path =", false, false, 1, kDefaultModulePath},
        {"xm_path = my mods/c d.xm", false, false, 1, "my mods/c d.xm"},
        // Lines before the first error keep their effect; lines after it are never read.
        {"audio_source = xm\nxm_path = mods/a.xm\nbogus\naudio_source = synth", false, false, 0, "mods/a.xm"},
        {"bogus\naudio_source = xm", false, false, 1, kDefaultModulePath},
        // The command line's choices stand.
        {"audio_source = xm\nxm_path = mods/a.xm", true, false, 1, "mods/a.xm"},
        {"audio_source = xm\nxm_path = mods/a.xm", false, true, 0, "cli.xm"},
    };
    for (const Case& c : cases) {
        dir.Write("music.txt", c.text);
        audio_source = 1;
        xm_path = c.path_explicit ? "cli.xm" : kDefaultModulePath;
        Load("music.txt", c.source_explicit, c.path_explicit);
        EXPECT_EQ(audio_source, c.audio_source) << c.text;
        EXPECT_EQ(xm_path, c.xm_path) << c.text;
    }
}

TEST(SequenceParse, HostileTextNeverCrashes) {
    // Long lines, many tokens, lone separators, control bytes and a huge number of lines.
    const std::vector<std::string> texts = {
        std::string(100000, '='),
        "section = " + std::string(50000, '1') + " 2 scene=1",
        "cue = 0 8 x " + std::string(20000, ' ') + "1",
        std::string("\0\0\0=\0", 5),
        std::string(100000, '\n') + "section = 0 1 scene=1",
        "section = 0 16 scene=1 label=" + std::string(3000, '\xff'),
        "#=\n=#\n\r=\r",
    };
    for (const std::string& text : texts) {
        const SequenceParseResult result = ParseSequence(text);
        if (!result.ok) {
            EXPECT_FALSE(result.error.empty());
        }
    }
    EXPECT_EQ(ParseSequence(texts[4]).sections.size(), 1u);
}

}  // namespace
