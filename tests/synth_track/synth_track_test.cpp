// Synth track: grammar and messages with line numbers, validation, candidate search through
// the two file hooks, the fallback track, and the shipped track file.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "audio/synth_track.h"

namespace {

namespace fs = std::filesystem;

// Smallest valid material; a test appends the lines it is about.
const char* kMaterial =
    "bass_pattern = 0 . 0 7 0 . 0 . 0 . 12 . 7 . . 0\n"
    "lead_pattern = 0 . 12 . 19 . 12 . 0 . 10 . 19 . 19 .\n"
    "chord_set = 0 3 7 12 -4 0 3 10 3 7 10 15 -2 2 5 10\n";

struct ParseResult {
  bool ok;
  std::string error;
  SynthTrack track;
};

ParseResult Parse(const std::string& text, const std::string& source = "mem.txt") {
  std::istringstream in(text);
  ParseResult result;
  result.ok = ParseSynthTrack(in, source, result.track, result.error);
  return result;
}

struct ErrorCase {
  const char* name;
  std::string text;
  const char* error;
};

TEST(SynthTrackParse, EveryMessageWithItsLineNumber) {
  const std::string m = kMaterial;  // three lines
  const ErrorCase cases[] = {
      {"no equals sign", "title = X\nbass_pattern 0 0\n", "line 2: expected key=value"},
      {"unknown key keeps its case", "Title = X\n", "line 1: unknown key 'Title'"},
      {"empty key", " = 5\n", "line 1: unknown key ''"},
      {"raw bytes are escaped", "ti\x01tle\x80 = 5\n", "line 1: unknown key 'ti\\x01tle\\x80'"},
      {"loop_bars not a number", "loop_bars = abc\n", "line 1: invalid loop_bars"},
      {"loop_bars trailing junk", "loop_bars = 96x\n", "line 1: invalid loop_bars"},
      {"loop_bars hexadecimal", "loop_bars = 0x60\n", "line 1: invalid loop_bars"},
      {"pattern with 15 steps", "bass_pattern = 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n",
       "line 1: expected 16 pattern steps"},
      {"pattern with 17 steps", "lead_pattern = 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n",
       "line 1: expected 16 pattern steps"},
      {"commas are no separators", "bass_pattern = 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0\n",
       "line 1: expected 16 pattern steps"},
      {"fractional step", "bass_pattern = 0 0 0 1.5 0 0 0 0 0 0 0 0 0 0 0 0\n",
       "line 1: invalid pattern step '1.5'"},
      {"hexadecimal step", "bass_pattern = 0 0 0 0x3 0 0 0 0 0 0 0 0 0 0 0 0\n",
       "line 1: invalid pattern step '0x3'"},
      {"step with suffix", "lead_pattern = 7b 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n",
       "line 1: invalid pattern step '7b'"},
      {"step overflows 32 bits", "bass_pattern = 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 2147483648\n",
       "line 1: invalid pattern step '2147483648'"},
      {"first bad step is named", "bass_pattern = 0 x 0 y 0 0 0 0 0 0 0 0 0 0 0 0\n",
       "line 1: invalid pattern step 'x'"},
      {"chord set with 15 notes", "chord_set = 0 3 7 12 -4 0 3 10 3 7 10 15 -2 2 5\n",
       "line 1: expected 16 chord notes"},
      {"rest in a chord set", "chord_set = 0 3 7 12 -4 0 3 10 3 7 10 15 -2 2 5 rest\n",
       "line 1: invalid chord note 'rest'"},
      {"dot in a chord set", "chord_set = . 3 7 12 -4 0 3 10 3 7 10 15 -2 2 5 10\n",
       "line 1: invalid chord note '.'"},
      {"section with four fields", m + "section = 0 96 0 0\n",
       "line 4: expected start end bass lead chord"},
      {"section with six fields", m + "section = 0 96 0 0 0 0\n",
       "line 4: expected start end bass lead chord"},
      {"section bad start", m + "section = a 96 0 0 0\n", "line 4: invalid section bar range"},
      {"section bad end", m + "section = 0 9x6 0 0 0\n", "line 4: invalid section bar range"},
      {"positional bad index", m + "section = 0 96 0 1.0 0\n",
       "line 4: invalid section pattern index"},
      {"positional form chosen by the third token", m + "section = 0 96 0 lead=0 0\n",
       "line 4: invalid section pattern index"},
      {"named unknown name", m + "section = 0 96 bass=0 pad=1 chord=0\n",
       "line 4: invalid section field 'pad=1'"},
      {"named bad number", m + "section = 0 96 bass=0 lead=x chord=0\n",
       "line 4: invalid section field 'lead=x'"},
      {"named token without equals", m + "section = 0 96 bass=0 1 chord=0\n",
       "line 4: invalid section field '1'"},
      {"named field twice", m + "section = 0 96 bass=1 lead=0 bass=0\n",
       "line 4: section must set bass, lead, and chord"},
      {"comments and blank lines are counted",
       "# comment\n\n   \ttitle = A # trailing comment\n\nbogus line\n", "line 5: expected key=value"},
      {"CR LF line ends", "title = A\r\n\r\nloop_bars = 9 9\r\n", "line 3: invalid loop_bars"},
      {"first error ends parsing", "oops\nTitle = B\n", "line 1: expected key=value"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ParseResult result = Parse(c.text);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, c.error);
    EXPECT_FALSE(result.track.loaded);
  }
}

TEST(SynthTrackParse, ValidationMessagesHaveNoLinePrefix) {
  const std::string m = kMaterial;
  const std::string bass = "bass_pattern = 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
  const std::string lead = "lead_pattern = 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
  const std::string chord = "chord_set = 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n";
  const ErrorCase cases[] = {
      {"loop_bars below 1", "loop_bars = 0.5\n" + m, "loop_bars must be at least 1"},
      {"loop_bars NaN", "loop_bars = nan\n" + m, "loop_bars must be at least 1"},
      {"empty file", "", "at least one bass_pattern is required"},
      {"no lead", bass + chord, "at least one lead_pattern is required"},
      {"no chord set", bass + lead, "at least one chord_set is required"},
      {"section past the loop tolerance", "loop_bars = 96\n" + m + "section = 0 96.002 0 0 0\n",
       "section bar range is outside loop_bars"},
      {"negative start", m + "section = -1 8 0 0 0\n", "section bar range is outside loop_bars"},
      {"empty range", m + "section = 8 8 0 0 0\n", "section bar range is outside loop_bars"},
      {"NaN start", m + "section = nan 8 0 0 0\n", "section bar range is outside loop_bars"},
      {"bass index out of range", m + "section = 0 8 1 0 0\n",
       "section references a missing pattern or chord set"},
      {"negative lead index", m + "section = 0 8 bass=0 lead=-1 chord=0\n",
       "section references a missing pattern or chord set"},
      {"chord index out of range", m + "section = 0 8 0 0 1\n",
       "section references a missing pattern or chord set"},
      {"range is checked before indices", m + "section = 0 8 0 0 0\nsection = 90 100 5 0 0\n",
       "section bar range is outside loop_bars"},
      {"sections checked in file order", m + "section = 90 100 0 0 0\nsection = 0 8 5 0 0\n",
       "section bar range is outside loop_bars"},
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.name);
    const ParseResult result = Parse(c.text);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.error, c.error);
  }
}

TEST(SynthTrackParse, ReadsEveryFieldOfAGoodFile) {
  const std::string text =
      "# a small track\r\n"
      "title = FIRST\n"
      "title =   NIGHT = SKY  \n"  // last one wins; further '=' belong to the value
      "module_type = Test synth\n"
      "loop_bars = +64.5\n"
      "bass_pattern = 0 . rest +7 -5 0 0 0 0 0 0 0 0 0 0 -2147483648\n"
      "bass_pattern = 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1\n"
      "lead_pattern =\t12\t.  .  . 0 0 0 0 0 0 0 0 0 0 0 2147483647\n"
      "chord_set = 0 3 7 12 -4 0 3 10 3 7 10 15 -2 2 5 10\n"
      "chord_set = 1 1 1 1 1 1 1 1 1 1 1 1 1 1 1 -1\n"
      "section = 32 64.5 chord=1 bass=1 lead=0\n"
      "section = 0 32 1 0 0\n"
      "section = 16 48 0 0 1\n";
  const ParseResult result = Parse(text, "dir/x.txt");
  ASSERT_TRUE(result.ok) << result.error;
  const SynthTrack& t = result.track;
  EXPECT_TRUE(t.loaded);
  EXPECT_EQ(t.source_path, "dir/x.txt");
  EXPECT_EQ(t.title, "NIGHT = SKY");
  EXPECT_EQ(t.module_type, "Test synth");
  EXPECT_FLOAT_EQ(t.loop_bars, 64.5f);
  ASSERT_EQ(t.bass_patterns.size(), 2u);
  ASSERT_EQ(t.lead_patterns.size(), 1u);
  ASSERT_EQ(t.chord_sets.size(), 2u);
  const SynthPattern& b0 = t.bass_patterns[0];
  EXPECT_EQ(b0.steps[0], 0);
  EXPECT_EQ(b0.steps[1], kRest);
  EXPECT_EQ(b0.steps[2], kRest);
  EXPECT_EQ(b0.steps[3], 7);
  EXPECT_EQ(b0.steps[4], -5);
  EXPECT_EQ(b0.steps[15], INT32_MIN);
  EXPECT_EQ(t.lead_patterns[0].steps[0], 12);
  EXPECT_EQ(t.lead_patterns[0].steps[15], INT32_MAX);
  EXPECT_EQ(t.chord_sets[1].notes[15], -1);
  // Sorted by start; the named fields land where their names say.
  ASSERT_EQ(t.sections.size(), 3u);
  EXPECT_EQ(t.sections[0].start, 0.0f);
  EXPECT_EQ(t.sections[1].start, 16.0f);
  EXPECT_EQ(t.sections[1].chord, 1);
  EXPECT_EQ(t.sections[2].start, 32.0f);
  EXPECT_EQ(t.sections[2].end, 64.5f);
  EXPECT_EQ(t.sections[2].bass, 1);
  EXPECT_EQ(t.sections[2].lead, 0);
  EXPECT_EQ(t.sections[2].chord, 1);
}

TEST(SynthTrackParse, NormalisesWhatValidationMayFill) {
  // No sections: one section over the whole loop; empty texts get their defaults.
  const ParseResult bare = Parse(std::string("title =\nmodule_type=\nloop_bars = 40\n") + kMaterial);
  ASSERT_TRUE(bare.ok) << bare.error;
  EXPECT_EQ(bare.track.title, "KESTREL SYNTH VM");
  EXPECT_EQ(bare.track.module_type, "Runtime synth");
  ASSERT_EQ(bare.track.sections.size(), 1u);
  EXPECT_EQ(bare.track.sections[0].start, 0.0f);
  EXPECT_EQ(bare.track.sections[0].end, 40.0f);
  EXPECT_EQ(bare.track.sections[0].bass, 0);

  // Half a thousandth of a bar past the loop is inside the tolerance; overlaps and equal
  // starts are both kept.
  const ParseResult edge = Parse(std::string("loop_bars = 96\n") + kMaterial +
                                 "section = 0 96.0005 0 0 0\nsection = 0 8 0 0 0\n");
  ASSERT_TRUE(edge.ok) << edge.error;
  EXPECT_EQ(edge.track.sections.size(), 2u);
}

TEST(SynthTrackParse, ParsingResetsTheTrackFirst) {
  SynthTrack track = MakeFallbackTrack();
  track.title = "OLD";
  std::istringstream in{std::string(kMaterial)};
  std::string error;
  ASSERT_TRUE(ParseSynthTrack(in, "p", track, error)) << error;
  EXPECT_EQ(track.title, "KESTREL SYNTH VM");
  EXPECT_EQ(track.bass_patterns.size(), 1u);
  EXPECT_EQ(track.sections.size(), 1u);
}

TEST(SynthTrackFallback, IsTheBuiltInMinorTrack) {
  const SynthTrack t = MakeFallbackTrack();
  EXPECT_FALSE(t.loaded);
  EXPECT_TRUE(t.source_path.empty());
  EXPECT_EQ(t.title, "KESTREL SYNTH VM");
  EXPECT_EQ(t.module_type, "Runtime synth");
  EXPECT_EQ(t.loop_bars, 96.0f);
  const std::array<std::int32_t, 16> bass = {0, kRest, 0, 7, 0, kRest, 0, kRest,
                                             0, kRest, 12, kRest, 7, kRest, kRest, 0};
  const std::array<std::int32_t, 16> lead = {0, kRest, 12, kRest, 19, kRest, 12, kRest,
                                             0, kRest, 10, kRest, 19, kRest, 19, kRest};
  const std::array<std::int32_t, 16> chords = {0, 3, 7, 12, -4, 0, 3, 10,
                                               3, 7, 10, 15, -2, 2, 5, 10};
  ASSERT_EQ(t.bass_patterns.size(), 1u);
  ASSERT_EQ(t.lead_patterns.size(), 1u);
  ASSERT_EQ(t.chord_sets.size(), 1u);
  EXPECT_EQ(t.bass_patterns[0].steps, bass);
  EXPECT_EQ(t.lead_patterns[0].steps, lead);
  EXPECT_EQ(t.chord_sets[0].notes, chords);
  ASSERT_EQ(t.sections.size(), 1u);
  EXPECT_EQ(t.sections[0].start, 0.0f);
  EXPECT_EQ(t.sections[0].end, 96.0f);
  // It passes its own validation unchanged.
  SynthTrack copy = t;
  std::string error;
  EXPECT_TRUE(ValidateSynthTrack(copy, error)) << error;
}

class SynthTrackLoad : public ::testing::Test {
 protected:
  // Candidates are relative to a "cwd" inside a scratch directory of its own, so that even
  // the "../" candidates stay inside it.
  void SetUp() override {
    base_ = fs::path(testing::TempDir()) /
            ("synth_track_load_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(base_);
    dir_ = base_ / "cwd";
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(base_); }

  std::string Write(const std::string& name, const std::string& text) {
    const fs::path path = dir_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  // Sends every candidate into the scratch directory, so files of the working directory (the
  // build tree links the real data/) are never seen.
  PathResolver Into() const {
    const std::string root = dir_.string();
    return [root](const std::string& p) { return p.empty() ? p : root + "/" + p; };
  }

  fs::path base_;
  fs::path dir_;
};

TEST_F(SynthTrackLoad, CandidatesAreResolvedAndDeduplicated) {
  const std::vector<std::string> plain = SynthTrackCandidatePaths("my/track.txt", {});
  const std::vector<std::string> expected = {
      "my/track.txt",
      "data/kestrel/kestrel_synth_track.txt",
      "../data/kestrel/kestrel_synth_track.txt",
      "_bin/data/kestrel/kestrel_synth_track.txt",
      "kestrel_synth_track.txt",
      "../kestrel_synth_track.txt",
      "_bin/kestrel_synth_track.txt",
  };
  EXPECT_EQ(plain, expected);

  // The configured default is the second entry; empty paths are skipped.
  EXPECT_EQ(SynthTrackCandidatePaths(kDefaultSynthTrackPath, {}).size(), 6u);
  EXPECT_EQ(SynthTrackCandidatePaths("", {}).front(), "data/kestrel/kestrel_synth_track.txt");

  // Dropping happens after resolution: a resolver that maps the relative names onto one file
  // leaves it once; one that empties a name removes it.
  const PathResolver squash = [](const std::string& p) {
    if (p.find("_bin") != std::string::npos) return std::string();
    return p.rfind("../", 0) == 0 ? p.substr(3) : p;
  };
  const std::vector<std::string> squashed = {"my/track.txt", "data/kestrel/kestrel_synth_track.txt",
                                             "kestrel_synth_track.txt"};
  EXPECT_EQ(SynthTrackCandidatePaths("my/track.txt", squash), squashed);
}

TEST_F(SynthTrackLoad, FirstFoundFileIsLoaded) {
  Write("data/kestrel/kestrel_synth_track.txt", std::string("title = SECOND\n") + kMaterial);
  Write("kestrel_synth_track.txt", std::string("title = LATER\n") + kMaterial);
  std::string status;
  const SynthTrack track = LoadSynthTrack("missing.txt", Into(), {}, status);
  EXPECT_TRUE(track.loaded);
  EXPECT_EQ(track.title, "SECOND");
  EXPECT_EQ(track.source_path, (dir_ / "data/kestrel/kestrel_synth_track.txt").string());
  EXPECT_EQ(status, "Loaded synth track " + track.source_path);
}

TEST_F(SynthTrackLoad, InvalidFirstFileMeansFallbackWithoutTryingLater) {
  Write("data/kestrel/kestrel_synth_track.txt", "# header\nloop_bars = x\n");
  Write("kestrel_synth_track.txt", kMaterial);
  std::string status;
  const SynthTrack track = LoadSynthTrack("", Into(), {}, status);
  EXPECT_FALSE(track.loaded);
  EXPECT_EQ(track.loop_bars, 96.0f);
  EXPECT_EQ(status, "Invalid synth track " + (dir_ / "data/kestrel/kestrel_synth_track.txt").string() +
                        ": line 2: invalid loop_bars; using fallback");
}

TEST_F(SynthTrackLoad, EmptyFileIsInvalidAndADirectoryIsNotFound) {
  fs::create_directories(dir_ / "data/kestrel/kestrel_synth_track.txt");  // a directory
  const std::string empty = Write("kestrel_synth_track.txt", "");
  std::string status;
  const SynthTrack track = LoadSynthTrack("", Into(), {}, status);
  EXPECT_FALSE(track.loaded);
  EXPECT_EQ(status, "Invalid synth track " + empty +
                        ": at least one bass_pattern is required; using fallback");
}

TEST_F(SynthTrackLoad, NothingFoundMeansFallback) {
  std::string status;
  const SynthTrack track = LoadSynthTrack("nowhere.txt", Into(), {}, status);
  EXPECT_EQ(status, "No synth track file found; using fallback");
  EXPECT_FALSE(track.loaded);
  EXPECT_EQ(track.bass_patterns.size(), 1u);
  EXPECT_EQ(track.sections.size(), 1u);
}

TEST_F(SynthTrackLoad, ReaderHookServesFilesAndFallsBackToDisk) {
  // The reader knows one name (like a packed asset); everything else is read from disk.
  const std::string on_disk = Write("disk.txt", std::string("title = DISK\n") + kMaterial);
  std::map<std::string, std::string> pack = {
      {"packed.txt", std::string("title = PACKED\r\n") + kMaterial}};
  std::vector<std::string> asked;
  const FileReader reader = [&](const std::string& path, std::vector<std::uint8_t>& bytes) {
    asked.push_back(path);
    const auto it = pack.find(path);
    if (it == pack.end()) return false;
    bytes.assign(it->second.begin(), it->second.end());
    return true;
  };

  std::string status;
  const SynthTrack packed = LoadSynthTrack("packed.txt", {}, reader, status);
  EXPECT_TRUE(packed.loaded);
  EXPECT_EQ(packed.title, "PACKED");
  EXPECT_EQ(status, "Loaded synth track packed.txt");

  asked.clear();
  const SynthTrack disk = LoadSynthTrack(on_disk, {}, reader, status);
  EXPECT_EQ(disk.title, "DISK");
  EXPECT_EQ(asked, std::vector<std::string>{on_disk});
}

TEST(SynthTrackShipped, ShowTrackLoadsCleanly) {
  const std::string path = std::string(KESTREL_SOURCE_DIR) + "/" + kDefaultSynthTrackPath;
  std::string status;
  const SynthTrack track = LoadSynthTrack(path, {}, {}, status);
  ASSERT_TRUE(track.loaded) << status;
  EXPECT_EQ(status, "Loaded synth track " + path);
  EXPECT_EQ(track.loop_bars, 128.0f);
  // The arrangement treats bass pattern 1 and lead pattern 2 specially: the show uses both.
  EXPECT_GE(track.bass_patterns.size(), 2u);
  EXPECT_GE(track.lead_patterns.size(), 3u);
  bool uses_bass1 = false;
  bool uses_lead2 = false;
  for (const SynthSection& s : track.sections) {
    uses_bass1 = uses_bass1 || s.bass == 1;
    uses_lead2 = uses_lead2 || s.lead == 2;
  }
  EXPECT_TRUE(uses_bass1);
  EXPECT_TRUE(uses_lead2);
}

}  // namespace
