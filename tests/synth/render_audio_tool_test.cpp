// kestrel_render_audio, run as a program: its WAV holds exactly what the synthesiser renders,
// it prints nothing when all is well, and it refuses bad requests with an error.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "synth_test_util.h"

using namespace synth_test;

namespace {

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

RunResult RunTool(const std::string& arguments, const TempDir& dir) {
  const std::string out_path = (dir.path() / "stdout.txt").string();
  const std::string err_path = (dir.path() / "stderr.txt").string();
  const std::string command = std::string(KESTREL_BINARY_DIR) + "/kestrel_render_audio " +
                              arguments + " >" + out_path + " 2>" + err_path;
  RunResult result;
  const int raw = std::system(command.c_str());
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  auto slurp = [](const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  result.out = slurp(out_path);
  result.err = slurp(err_path);
  return result;
}

std::uint32_t U32At(const std::string& bytes, std::size_t at) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(bytes[at + i]);
  return v;
}

std::uint16_t U16At(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                    (static_cast<std::uint8_t>(bytes[at + 1]) << 8));
}

}  // namespace

TEST(RenderAudioTool, WritesTheSynthesiserOutputAsPcmWav) {
  // An 8-bar loop never reaches the first oracle bar, so no voice file can make a difference.
  TestSynth t(MakeTrack(8, {kGroove}));
  const std::string wav = (t.dir.path() / "out.wav").string();
  const RunResult run = RunTool("--from 1.5 --to 3 --bpm 150 --track " + t.TrackPath().string() +
                                    " " + wav, t.dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");

  std::ifstream in(wav, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GE(bytes.size(), 44u);
  EXPECT_EQ(bytes.substr(0, 4), "RIFF");
  EXPECT_EQ(bytes.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(U16At(bytes, 20), 1);      // PCM
  EXPECT_EQ(U16At(bytes, 22), 2);      // stereo
  EXPECT_EQ(U32At(bytes, 24), 48000u);
  EXPECT_EQ(U16At(bytes, 34), 16);
  EXPECT_EQ(bytes.substr(36, 4), "data");
  // 1.5 bars at 150 bpm: 1.5 * 76800 frames.
  const std::uint32_t frames = 115200;
  ASSERT_EQ(U32At(bytes, 40), frames * 4);
  ASSERT_EQ(bytes.size(), 44u + frames * 4);
  EXPECT_EQ(U32At(bytes, 4), 36u + frames * 4);

  // The same render in process, at the show's gain, quantised the same way.
  RuntimeSynth& synth = t.Prepare();
  synth.SetTempo(150.0f);
  synth.SetMasterVolume(1.0f);
  synth.SeekToBar(1.5f);
  const std::vector<float> expected = Render(synth, frames);
  std::size_t mismatches = 0;
  for (std::size_t k = 0; k < expected.size(); ++k) {
    const long want = std::clamp(std::lrint(static_cast<double>(expected[k]) * 32767.0), -32768L, 32767L);
    const auto got = static_cast<std::int16_t>(U16At(bytes, 44 + 2 * k));
    if (got != want) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0u);
}

TEST(RenderAudioTool, DefaultsToTheShowTrackAt140BpmUpToItsLoopEnd) {
  // No --track, --bpm or --to: the show's own 128-bar track, found next to the tool, at 140 bpm
  // up to bar 128. Half a bar from 127.5 is 41 143 frames at 140 bpm.
  TempDir dir;
  const std::string wav = (dir.path() / "end.wav").string();
  const RunResult run = RunTool("--from 127.5 " + wav, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  std::ifstream in(wav, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::uint32_t frames = 41143;
  ASSERT_EQ(bytes.size(), 44u + frames * 4);
  EXPECT_EQ(U32At(bytes, 40), frames * 4);

  // The same bars of the shipped track rendered in process at the show's gain.
  RuntimeSynth synth;
  synth.SetTrackPath(std::string(KESTREL_SOURCE_DIR) + "/" + kDefaultSynthTrackPath);
  ASSERT_TRUE(synth.GetTrack().loaded) << synth.GetTrackStatus();
  synth.BeginOfflineRender();
  synth.SetMasterVolume(1.0f);
  synth.SeekToBar(127.5f);
  const std::vector<float> expected = Render(synth, frames);
  std::size_t mismatches = 0;
  double energy = 0.0;
  for (std::size_t k = 0; k < expected.size(); ++k) {
    const long want = std::clamp(std::lrint(static_cast<double>(expected[k]) * 32767.0), -32768L, 32767L);
    const auto got = static_cast<std::int16_t>(U16At(bytes, 44 + 2 * k));
    if (got != want) ++mismatches;
    energy += static_cast<double>(got) * got;
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_GT(energy / static_cast<double>(expected.size()), 1000.0 * 1000.0);  // real music
}

TEST(RenderAudioTool, RefusesBadRequests) {
  TempDir dir;
  WriteText(dir.path() / "bad.txt", "loop_bars = many\n");
  const std::string wav = (dir.path() / "bad.wav").string();
  struct Case {
    std::string arguments;
    int status;
    std::string message;
  };
  const Case cases[] = {
      {"", 2, "no output file"},
      {"--from", 2, "missing value for --from"},
      {"--from x " + wav, 2, "invalid number for --from: x"},
      {"--from 4 --to 2 " + wav, 2, "--to must lie after --from"},
      {"--to 1e300 " + wav, 2, "--to must lie between 0 and 1000000"},
      {"--bpm 300 " + wav, 2, "--bpm must be between 80 and 180"},
      {"--loud " + wav, 2, "unknown option --loud"},
      {"--track " + (dir.path() / "missing.txt").string() + " " + wav, 1,
       "could not read synth track"},
      {"--track " + (dir.path() / "bad.txt").string() + " " + wav, 1,
       "Invalid synth track " + (dir.path() / "bad.txt").string() + ": line 1: invalid loop_bars"},
      {"--to 1 " + (dir.path() / "no_such_dir" / "x.wav").string(), 1, "Could not save"},
      {"--source midi " + wav, 2, "--source must be synth or xm"},
      {"--source xm --xm-path " + (dir.path() / "missing.xm").string() + " " + wav, 1,
       "kestrel_render_audio: XM load failed (-6): " + (dir.path() / "missing.xm").string()},
      {"--source xm --xm-path " + (dir.path() / "bad.txt").string() + " " + wav, 1,
       "kestrel_render_audio: XM load failed (-3): " + (dir.path() / "bad.txt").string()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const RunResult run = RunTool(c.arguments, dir);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    // The tool stops where the show would fall back: no message may claim otherwise.
    EXPECT_EQ(run.err.find("fallback"), std::string::npos) << run.err;
  }
}

TEST(RenderAudioTool, ModuleSourceRendersTheShowsModuleOverTheSameBars) {
  // The whole song by default: 128 orders played as 128 bars at 140 BPM.
  TempDir dir;
  const std::string wav = (dir.path() / "module.wav").string();
  const RunResult run = RunTool("--source xm " + wav, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");
  std::ifstream in(wav, std::ios::binary);
  const std::string bytes(std::istreambuf_iterator<char>(in), {});
  const std::uint32_t frames = 10532571;  // 128 bars of 240 / 140 s at 48 kHz, rounded
  ASSERT_EQ(bytes.size(), 44u + frames * 4u);
  EXPECT_EQ(U32At(bytes, 40), frames * 4u);
  // Bars 8 to 9 alone are the same samples as in the whole render (a seek to order 8), after the
  // first millisecond, where the whole render still ramps out the notes of bar 7.
  const std::string part = (dir.path() / "part.wav").string();
  ASSERT_EQ(RunTool("--source xm --from 8 --to 9 " + part, dir).status, 0);
  std::ifstream pin(part, std::ios::binary);
  const std::string piece(std::istreambuf_iterator<char>(pin), {});
  ASSERT_EQ(piece.size(), 44u + 82286u * 4u);
  const std::size_t ramp = 48 * 4;
  const std::size_t at = 44 + static_cast<std::size_t>(8 * 82272) * 4;  // order 8 in libxmp's ticks
  const std::size_t length = static_cast<std::size_t>(82272 - 48) * 4;
  EXPECT_TRUE(bytes.compare(at + ramp, length, piece, 44 + ramp, length) == 0);
  EXPECT_FALSE(bytes.compare(at, length, piece, 44, length) == 0);  // the ramp is there
}
