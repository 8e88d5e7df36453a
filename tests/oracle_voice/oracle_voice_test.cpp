// Oracle voices: the accepted WAV subset (built byte by byte here, so every malformed shape is
// explicit), conversion to mono 48 kHz, candidate paths, loading through the hooks, mixing at
// the trigger bars, and the shipped voice files.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "audio/oracle_voice.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

void PutU16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v & 0xFF));
  b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void PutU32(Bytes& b, std::uint32_t v) {
  PutU16(b, v & 0xFFFF);
  PutU16(b, v >> 16);
}

void PutChunk(Bytes& b, const char* id, const Bytes& body, bool pad = true) {
  b.insert(b.end(), id, id + 4);
  PutU32(b, static_cast<std::uint32_t>(body.size()));
  b.insert(b.end(), body.begin(), body.end());
  if (pad && (body.size() & 1)) b.push_back(0);
}

Bytes Fmt(std::uint32_t tag, std::uint32_t channels, std::uint32_t rate, std::uint32_t bits,
          std::size_t size = 16) {
  Bytes f;
  PutU16(f, tag);
  PutU16(f, channels);
  PutU32(f, rate);
  PutU32(f, rate * channels * bits / 8);  // byte rate
  PutU16(f, channels * bits / 8);         // block align
  PutU16(f, bits);
  f.resize(size, 0);
  return f;
}

Bytes Pcm16(const std::vector<std::int16_t>& samples) {
  Bytes d;
  for (std::int16_t s : samples) PutU16(d, static_cast<std::uint16_t>(s));
  return d;
}

// RIFF/WAVE around the given chunks (the RIFF size is not checked by the reader).
Bytes Riff(const Bytes& chunks) {
  Bytes b = {'R', 'I', 'F', 'F'};
  PutU32(b, static_cast<std::uint32_t>(4 + chunks.size()));
  b.insert(b.end(), {'W', 'A', 'V', 'E'});
  b.insert(b.end(), chunks.begin(), chunks.end());
  return b;
}

Bytes SimpleWav(std::uint32_t channels, std::uint32_t rate, const std::vector<std::int16_t>& s) {
  Bytes chunks;
  PutChunk(chunks, "fmt ", Fmt(1, channels, rate, 16));
  PutChunk(chunks, "data", Pcm16(s));
  return Riff(chunks);
}

bool Parse(const Bytes& b, std::vector<float>& out) { return ParseOracleWav(b.data(), b.size(), out); }

TEST(OracleWav, RejectsEverythingOutsideTheSubset) {
  const std::vector<std::int16_t> two = {1000, -1000};
  struct Case {
    const char* name;
    Bytes bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"empty", {}});
  cases.push_back({"eleven bytes", Bytes{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V'}});
  {
    Bytes b = SimpleWav(1, 48000, two);
    b[0] = 'X';
    cases.push_back({"bad RIFF magic", b});
    b = SimpleWav(1, 48000, two);
    b[11] = 'X';
    cases.push_back({"bad WAVE magic", b});
  }
  cases.push_back({"header only, no chunks", Riff({})});
  {
    Bytes c;
    PutChunk(c, "fmt ", Fmt(1, 1, 48000, 16));
    cases.push_back({"no data chunk", Riff(c)});
  }
  {
    Bytes c;
    PutChunk(c, "data", Pcm16(two));
    PutChunk(c, "fmt ", Fmt(1, 1, 48000, 16));
    cases.push_back({"data before fmt", Riff(c)});
  }
  {
    Bytes c;
    PutChunk(c, "fmt ", Fmt(1, 1, 48000, 16, 14));
    PutChunk(c, "data", Pcm16(two));
    cases.push_back({"fmt body of 14 bytes", Riff(c)});
  }
  {
    Bytes b = SimpleWav(1, 48000, two);
    b.pop_back();  // data chunk body one byte short of its size
    cases.push_back({"truncated data chunk", b});
  }
  {
    Bytes c;
    PutChunk(c, "fmt ", Fmt(1, 1, 48000, 16));
    c.insert(c.end(), {'L', 'I', 'S', 'T', 0xFF, 0xFF, 0xFF, 0xFF, 0, 0});
    cases.push_back({"chunk size 0xFFFFFFFF", Riff(c)});
  }
  {
    Bytes c;
    PutChunk(c, "fmt ", Fmt(1, 1, 48000, 16));
    c.insert(c.end(), {'d', 'a', 't', 'a', 0xFE, 0xFF, 0xFF, 0x7F, 1, 2, 3, 4});
    cases.push_back({"huge data size", Riff(c)});
  }
  const struct {
    const char* name;
    std::uint32_t tag, channels, rate, bits;
  } formats[] = {
      {"IEEE float", 3, 1, 48000, 16},  {"ADPCM", 2, 1, 48000, 16},
      {"extensible", 0xFFFE, 1, 48000, 16}, {"8-bit", 1, 1, 48000, 8},
      {"24-bit", 1, 1, 48000, 24},     {"32-bit", 1, 1, 48000, 32},
      {"three channels", 1, 3, 48000, 16}, {"no channels", 1, 0, 48000, 16},
      {"rate 0", 1, 1, 0, 16},
      // Only audio rates: a huge claimed rate would let "30 seconds" cover any length.
      {"rate 7999", 1, 1, 7999, 16},   {"rate 192001", 1, 1, 192001, 16},
      {"rate 4294967295", 1, 1, 4294967295u, 16},
  };
  for (const auto& f : formats) {
    Bytes c;
    PutChunk(c, "fmt ", Fmt(f.tag, f.channels, f.rate, f.bits));
    PutChunk(c, "data", Bytes(48, 0x11));
    cases.push_back({f.name, Riff(c)});
  }
  {
    Bytes c;
    PutChunk(c, "fmt ", Fmt(1, 2, 48000, 16));
    PutChunk(c, "data", Bytes(3, 0));  // less than one stereo frame
    cases.push_back({"zero frames", Riff(c)});
  }
  cases.push_back({"30 seconds and one frame",
                   SimpleWav(1, 8000, std::vector<std::int16_t>(30 * 8000 + 1, 5))});
  cases.push_back({"stereo 30 seconds and one frame",
                   SimpleWav(2, 8000, std::vector<std::int16_t>(2 * (30 * 8000 + 1), 5))});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<float> out = {1.0f};
    EXPECT_FALSE(Parse(c.bytes, out));
    EXPECT_TRUE(out.empty());
  }
}

TEST(OracleWav, EveryTruncationFailsSafely) {
  // A file with an odd LIST chunk (and its pad byte) before the data, cut at every length:
  // only the whole file parses, and no cut reads past the end (the sanitizer build checks).
  Bytes c;
  PutChunk(c, "LIST", Bytes{'I', 'N', 'F', 'O', 'x', 'y', 'z'});
  PutChunk(c, "fmt ", Fmt(1, 2, 44100, 16));
  PutChunk(c, "data", Pcm16({1, 2, 3, 4, 5, 6, 7, 8}));
  const Bytes whole = Riff(c);
  for (std::size_t n = 0; n <= whole.size(); ++n) {
    SCOPED_TRACE(n);
    const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    std::vector<float> out;
    EXPECT_EQ(ParseOracleWav(cut.data(), cut.size(), out), n == whole.size());
  }
}

TEST(OracleWav, ReadsTheSubsetAndSkipsOtherChunks) {
  std::vector<float> out;

  // Mono at 48 kHz: samples / 32768, unchanged in length.
  ASSERT_TRUE(Parse(SimpleWav(1, 48000, {16384, -32768, 32767, 0}), out));
  EXPECT_EQ(out, (std::vector<float>{0.5f, -1.0f, 32767.0f / 32768.0f, 0.0f}));

  // Stereo: the mean of the two channels.
  ASSERT_TRUE(Parse(SimpleWav(2, 48000, {16384, 0, -8192, -8192}), out));
  EXPECT_EQ(out, (std::vector<float>{0.25f, -0.25f}));

  // An odd-sized LIST chunk with its pad byte, an odd "junk" chunk and a longer fmt chunk
  // before the data; an odd data chunk at the very end without its pad byte.
  Bytes c;
  PutChunk(c, "LIST", Bytes{'I', 'N', 'F', 'O', 'a'});
  PutChunk(c, "fmt ", Fmt(1, 1, 48000, 16, 18));
  PutChunk(c, "junk", Bytes(7, 0xAB));
  PutChunk(c, "data", Bytes{0x00, 0x40, 0x00, 0xC0, 0x7F}, false);  // two frames and a stray byte
  ASSERT_TRUE(Parse(Riff(c), out));
  EXPECT_EQ(out, (std::vector<float>{0.5f, -0.5f}));

  // A later fmt and a later data chunk replace the earlier ones.
  Bytes r;
  PutChunk(r, "fmt ", Fmt(3, 1, 48000, 32));
  PutChunk(r, "fmt ", Fmt(1, 1, 48000, 16));
  PutChunk(r, "data", Pcm16({100, 200, 300}));
  PutChunk(r, "data", Pcm16({-16384}));
  ASSERT_TRUE(Parse(Riff(r), out));
  EXPECT_EQ(out, (std::vector<float>{-0.5f}));

  // A broken chunk after the samples still fails the file.
  Bytes t = SimpleWav(1, 48000, {1, 2});
  t.insert(t.end(), {'L', 'I', 'S', 'T', 9, 0, 0, 0, 1});
  EXPECT_FALSE(Parse(t, out));
}

TEST(OracleWav, ThirtySecondsIsTheLimit) {
  std::vector<float> out;
  ASSERT_TRUE(Parse(SimpleWav(1, 8000, std::vector<std::int16_t>(30 * 8000, 3)), out));
  EXPECT_EQ(out.size(), 30u * 48000u);
  ASSERT_TRUE(Parse(SimpleWav(2, 16000, std::vector<std::int16_t>(2 * 30 * 16000, 3)), out));
  EXPECT_EQ(out.size(), 30u * 48000u);
}

TEST(OracleWav, ResamplesToFortyEightKilohertz) {
  // 44.1 kHz stereo, one second: a ramp on the left, silence on the right.
  std::vector<std::int16_t> s(2 * 44100, 0);
  for (int i = 0; i < 44100; ++i) s[2 * i] = static_cast<std::int16_t>(i % 20000);
  std::vector<float> out;
  ASSERT_TRUE(Parse(SimpleWav(2, 44100, s), out));
  ASSERT_EQ(out.size(), 48000u);
  // out[k] interpolates the input at t = k * 44100 / 48000.
  for (int k : {0, 1, 7, 160, 12345, 21767}) {
    const double t = k * 44100.0 / 48000.0;
    const int i = static_cast<int>(t);
    const double left_i = (i % 20000) / 32768.0 * 0.5;
    const double left_next = ((i + 1) % 20000) / 32768.0 * 0.5;
    SCOPED_TRACE(k);
    EXPECT_NEAR(out[k], left_i + (left_next - left_i) * (t - i), 1e-6);
  }
  // The tail holds the last input frame.
  EXPECT_FLOAT_EQ(out.back(), (44099 % 20000) / 32768.0f * 0.5f);

  // Up-sampling a single frame gives ceil(48000 / rate) copies of it; rounding up.
  ASSERT_TRUE(Parse(SimpleWav(1, 16000, {8192}), out));
  EXPECT_EQ(out, (std::vector<float>{0.25f, 0.25f, 0.25f}));
  ASSERT_TRUE(Parse(SimpleWav(1, 96000, {0, 100, 200}), out));
  EXPECT_EQ(out.size(), 2u);
  ASSERT_TRUE(Parse(SimpleWav(1, 8000, {0, 7000}), out));  // the lowest rate: 6 outputs a frame
  EXPECT_EQ(out.size(), 12u);
  EXPECT_FLOAT_EQ(out[3], 7000.0f / 32768.0f * 0.5f);
  ASSERT_TRUE(Parse(SimpleWav(1, 192000, std::vector<std::int16_t>(8, 4096)), out));  // the highest
  EXPECT_EQ(out, std::vector<float>(2, 0.125f));
}

TEST(OracleVoicePaths, CandidatesInSearchOrder) {
  const std::string f = "oracle_01_wake_the_stone.wav";
  EXPECT_EQ(OracleVoiceCandidatePaths("", f, {}),
            (std::vector<std::string>{"data/kestrel/oracle_voice/" + f,
                                      "../data/kestrel/oracle_voice/" + f,
                                      "_bin/data/kestrel/oracle_voice/" + f, "oracle_voice/" + f,
                                      "../oracle_voice/" + f}));

  struct Case {
    const char* source;
    std::string first;
    std::size_t count;
  };
  const Case cases[] = {
      {"/music/set1/track.txt", "/music/set1/oracle_voice/" + f, 6},
      {"track.txt", "data/kestrel/oracle_voice/" + f, 5},  // no directory part
      {"data/kestrel/kestrel_synth_track.txt", "data/kestrel/oracle_voice/" + f, 5},  // same
      {"./data/./kestrel/x/../kestrel_synth_track.txt", "data/kestrel/oracle_voice/" + f, 5},
      {"a/../track.txt", "oracle_voice/" + f, 5},  // normalises onto the fifth
      {"/track.txt", "/oracle_voice/" + f, 6},
      {"music\\set2\\track.txt", "music\\set2/oracle_voice/" + f, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    const std::vector<std::string> paths = OracleVoiceCandidatePaths(c.source, f, {});
    ASSERT_EQ(paths.size(), c.count);
    EXPECT_EQ(paths.front(), c.first);
  }

  // The resolver sees normalised names and repeats are dropped after it.
  std::vector<std::string> seen;
  const PathResolver flat = [&](const std::string& p) {
    seen.push_back(p);
    return std::string("one/") + fs::path(p).filename().string();
  };
  EXPECT_EQ(OracleVoiceCandidatePaths("/music/track.txt", f, flat),
            std::vector<std::string>{"one/" + f});
  EXPECT_EQ(seen.size(), 6u);
}

class OracleVoiceLoad : public ::testing::Test {
 protected:
  // Candidates are relative to a "cwd" inside a scratch directory of its own, so that even
  // the "../" candidates stay inside it.
  void SetUp() override {
    base_ = fs::path(testing::TempDir()) /
            ("oracle_voice_" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(base_);
    dir_ = base_ / "cwd";
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(base_); }

  std::string Write(const std::string& name, const Bytes& bytes) {
    const fs::path path = dir_ / name;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path.string();
  }

  PathResolver Into() const {
    const std::string root = dir_.string();
    return [root](const std::string& p) { return root + "/" + p; };
  }

  fs::path base_;
  fs::path dir_;
};

TEST_F(OracleVoiceLoad, FirstCandidateThatParsesWins) {
  const std::string f = kOracleVoiceCues[0].file;
  // The track's own directory holds a broken file: the search goes on to data/kestrel.
  Write("set/oracle_voice/" + f, Bytes{'R', 'I', 'F', 'F'});
  const std::string good = Write("data/kestrel/oracle_voice/" + f, SimpleWav(1, 48000, {16384, 0}));
  Write("oracle_voice/" + f, SimpleWav(1, 48000, {1, 2, 3}));

  OracleVoice voice;
  voice.samples = {9.0f};
  voice.name = "stale";
  ASSERT_TRUE(LoadOracleVoice(voice, f, "set/track.txt", Into(), {}));
  EXPECT_EQ(voice.name, good);
  EXPECT_EQ(voice.samples, (std::vector<float>{0.5f, 0.0f}));

  // A valid voice followed by a quarter gigabyte of padding (a sparse file) is not read.
  const std::string huge = Write("oracle_voice/big.wav", SimpleWav(1, 48000, {1, 2}));
  fs::resize_file(huge, (256u << 20) + 1);
  EXPECT_FALSE(LoadOracleVoice(voice, "big.wav", "", Into(), {}));

  // Nothing anywhere: the slot is emptied and stays silent.
  EXPECT_FALSE(LoadOracleVoice(voice, "missing.wav", "set/track.txt", Into(), {}));
  EXPECT_FALSE(voice.loaded);
  EXPECT_TRUE(voice.samples.empty());
  EXPECT_TRUE(voice.name.empty());
}

TEST_F(OracleVoiceLoad, ReaderHookFirstThenTheDisk) {
  const std::string f = kOracleVoiceCues[4].file;
  const std::string on_disk = Write("data/kestrel/oracle_voice/" + f, SimpleWav(1, 48000, {-16384}));
  std::map<std::string, Bytes> pack = {
      {"data/kestrel/oracle_voice/" + std::string(kOracleVoiceCues[1].file), SimpleWav(1, 48000, {8192})},
      // A packed file that does not parse: the same path is then read from disk.
      {on_disk, Bytes{'n', 'o', 'p', 'e'}},
  };
  const FileReader reader = [&](const std::string& path, Bytes& bytes) {
    const auto it = pack.find(path);
    if (it == pack.end()) return false;
    bytes = it->second;
    return true;
  };
  OracleVoiceSet voices;
  // The resolver leaves the packed name alone and sends the rest into the scratch directory.
  const std::string root = dir_.string();
  const PathResolver resolver = [&](const std::string& p) {
    return pack.count(p) ? p : root + "/" + p;
  };
  EXPECT_EQ(LoadOracleVoices(voices, "", resolver, reader), "oracle voice 2/8 loaded");
  EXPECT_TRUE(voices[1].loaded);
  EXPECT_EQ(voices[1].samples, (std::vector<float>{0.25f}));
  EXPECT_TRUE(voices[4].loaded);
  EXPECT_EQ(voices[4].name, on_disk);
  EXPECT_EQ(voices[4].samples, (std::vector<float>{-0.5f}));
  EXPECT_FALSE(voices[0].loaded);

  // The size cap holds for files found through the reader too: a packed voice over 256 MiB (a
  // valid WAV with a huge extra chunk) is not used.
  Bytes big = SimpleWav(1, 48000, {8192});
  big.insert(big.end(), {'j', 'u', 'n', 'k', 0, 0, 0, 0});
  const std::size_t pad = (std::size_t{256} << 20) - big.size() + 2;
  big[big.size() - 4] = static_cast<std::uint8_t>(pad & 0xFF);
  big[big.size() - 3] = static_cast<std::uint8_t>((pad >> 8) & 0xFF);
  big[big.size() - 2] = static_cast<std::uint8_t>((pad >> 16) & 0xFF);
  big[big.size() - 1] = static_cast<std::uint8_t>((pad >> 24) & 0xFF);
  big.resize(big.size() + pad, 0);
  ASSERT_GT(big.size(), std::size_t{256} << 20);
  std::vector<float> parsed;
  ASSERT_TRUE(Parse(big, parsed));  // it is a good WAV, only too large
  // Under the name the resolver gives, which is not on disk, so only the reader can supply it.
  pack[root + "/data/kestrel/oracle_voice/" + std::string(kOracleVoiceCues[1].file)] = std::move(big);
  pack.erase("data/kestrel/oracle_voice/" + std::string(kOracleVoiceCues[1].file));
  OracleVoiceSet capped;
  EXPECT_EQ(LoadOracleVoices(capped, "", resolver, reader), "oracle voice 1/8 loaded");
  EXPECT_FALSE(capped[1].loaded);

  // Without the hooks' help nothing is found in an empty place.
  OracleVoiceSet none;
  const PathResolver nowhere = [&](const std::string& p) { return root + "/empty/" + p; };
  EXPECT_EQ(LoadOracleVoices(none, "", nowhere, {}), "oracle voice 0/8 loaded");
}

TEST(OracleVoiceMix, PlaysEachPhraseFromItsBarAtTheTempo) {
  OracleVoiceSet voices;
  // Slot 5 (bar 61.5): a ramp, sample k = k / 100000.
  OracleVoice& v5 = voices[4];
  v5.samples.resize(100000);
  for (std::size_t k = 0; k < v5.samples.size(); ++k) v5.samples[k] = static_cast<float>(k) * 1e-5f;
  v5.loaded = true;

  EXPECT_EQ(MixOracleVoices(voices, 61.4f, 140.0f), 0.0f);
  EXPECT_EQ(MixOracleVoices(voices, 61.5f, 140.0f), 0.0f);  // first sample is 0
  // One bar later at 140 bpm: 11 520 000 / 140 = 82285.714 frames in.
  EXPECT_NEAR(MixOracleVoices(voices, 62.5f, 140.0f), 0.7 * 82285.714 * 1e-5, 1e-5);
  // At 70 bpm the same bar is twice as far into the sample: past its end, silent.
  EXPECT_EQ(MixOracleVoices(voices, 62.5f, 70.0f), 0.0f);
  EXPECT_NEAR(MixOracleVoices(voices, 62.0f, 70.0f), 0.7 * 82285.714 * 1e-5, 1e-5);

  // Unloaded slots are silent even with samples; two loaded slots add up.
  OracleVoice& v6 = voices[5];  // bar 72
  v6.samples.assign(300000, 0.5f);
  EXPECT_EQ(MixOracleVoices(voices, 72.5f, 140.0f), 0.0f);
  v6.loaded = true;
  EXPECT_NEAR(MixOracleVoices(voices, 72.5f, 140.0f), 0.35f, 1e-6);
  v5.samples.assign(3000000, 0.25f);
  EXPECT_NEAR(MixOracleVoices(voices, 72.5f, 140.0f), 0.7f * 0.75f, 1e-6);
}

TEST(OracleVoiceShipped, EightVoicesLoadFromTheShowData) {
  const std::string source = std::string(KESTREL_SOURCE_DIR) + "/data/kestrel/kestrel_synth_track.txt";
  OracleVoiceSet voices;
  EXPECT_EQ(LoadOracleVoices(voices, source, {}, {}), "oracle voice 8/8 loaded");
  for (int slot = 0; slot < kOracleVoiceCount; ++slot) {
    SCOPED_TRACE(kOracleVoiceCues[slot].file);
    const OracleVoice& v = voices[slot];
    EXPECT_EQ(v.name, std::string(KESTREL_SOURCE_DIR) + "/data/kestrel/oracle_voice/" +
                          kOracleVoiceCues[slot].file);
    // Each phrase is a short, audible spoken line within range.
    const double seconds = v.samples.size() / 48000.0;
    EXPECT_GT(seconds, 0.5);
    EXPECT_LT(seconds, 6.0);
    float peak = 0.0f;
    for (float s : v.samples) peak = std::max(peak, std::fabs(s));
    EXPECT_GT(peak, 0.3f);
    EXPECT_LE(peak, 1.0f);
  }
}

}  // namespace
