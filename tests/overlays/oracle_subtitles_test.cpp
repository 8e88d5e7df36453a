// The oracle subtitles: the schedule's envelopes at the first line's edges, the words following
// the speech, the word cut and clipped to its box, the head alone at subtitle strength 0, and the
// one schedule the voices and the subtitles share.

#include "overlays/oracle_subtitles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "audio/oracle_voice.h"
#include "overlays/title_overlay.h"
#include "render/framebuffer.h"

namespace {

constexpr int kW = 640;
constexpr int kH = 360;

// Bit-for-bit the same light in every pixel.
bool SamePixels(const Framebuffer& a, const Framebuffer& b) {
  if (a.pixels.size() != b.pixels.size()) return false;
  for (size_t i = 0; i < a.pixels.size(); ++i) {
    const Vec3& p = a.pixels[i];
    const Vec3& q = b.pixels[i];
    if (p.r != q.r || p.g != q.g || p.b != q.b) return false;
  }
  return true;
}
// One and three seconds in bars at 140 BPM.
constexpr float kOneSecond = 140.0f / 240.0f;
constexpr float kThreeSeconds = 140.0f / 80.0f;

OracleCue At(float bar) {
  return EvaluateOracle(bar, kOneSecond, kThreeSeconds);
}

std::string WordAt(float bar) {
  const OracleCue cue = At(bar);
  return LayoutOracleWord(cue.text, cue, 1.0f, 0.0f, kW).text;
}

float WordStrengthAt(float bar) {
  const OracleCue cue = At(bar);
  return LayoutOracleWord(cue.text, cue, 1.0f, 0.0f, kW).strength;
}

bool AnyLightOutside(const Framebuffer& fb, int x0, int y0, int x1, int y1) {
  for (int y = 0; y < kH; ++y)
    for (int x = 0; x < kW; ++x) {
      if (x >= x0 && x < x1 && y >= y0 && y < y1) continue;
      const Vec3& p = fb.pixels[static_cast<size_t>(y) * kW + x];
      if (p.r != 0 || p.g != 0 || p.b != 0) return true;
    }
  return false;
}

float ColumnLight(const Framebuffer& fb, int x, int y0, int y1) {
  float sum = 0;
  for (int y = y0; y < y1; ++y) sum += fb.pixels[static_cast<size_t>(y) * kW + x].g;
  return sum;
}

}  // namespace

TEST(OracleSchedule, TheFirstLineFadesInOnTimeAndIsGoneOnTime) {
  // No line far from the eight.
  EXPECT_EQ(At(10.0f).text, nullptr);
  EXPECT_EQ(At(10.0f).head_level, 0.0f);

  // The head starts to fade in one second before bar 16.
  EXPECT_EQ(At(16.0f - kOneSecond).head_level, 0.0f);
  EXPECT_GT(At(16.0f - kOneSecond + 0.05f).head_level, 0.0f);
  EXPECT_STREQ(At(16.0f - kOneSecond + 0.05f).text, "WAKE THE STONE");

  // The text from bar 15.92, the first word being "WAKE".
  EXPECT_EQ(At(15.919f).text_level, 0.0f);
  EXPECT_GT(At(15.93f).text_level, 0.0f);
  EXPECT_EQ(WordAt(15.93f), "WAKE");

  // Full strength (the line's weight 0.92) while it is spoken.
  EXPECT_NEAR(At(16.3f).head_level, 0.92f, 1e-6f);
  EXPECT_NEAR(At(16.3f).text_level, 0.92f, 1e-6f);
  EXPECT_NEAR(At(16.3f).voice_level, 0.92f, 1e-6f);
  // The voice envelope falls over 0.28 bars from 0.1 bars before the speech's end.
  EXPECT_NEAR(At(16.55f).voice_level, 0.92f, 1e-6f);
  EXPECT_GT(At(16.8f).voice_level, 0.0f);
  EXPECT_EQ(At(16.84f).voice_level, 0.0f);

  // The text ends before 18.7 (the head's end, 16.65 + 3 s = 18.4, comes first here); the head
  // is gone three seconds after the speech.
  EXPECT_GT(At(18.0f).text_level, 0.0f);
  EXPECT_EQ(At(18.4f).text_level, 0.0f);
  EXPECT_EQ(At(18.7f).text_level, 0.0f);
  EXPECT_GT(At(18.3f).head_level, 0.0f);
  EXPECT_EQ(At(16.65f + kThreeSeconds).head_level, 0.0f);
  EXPECT_EQ(At(16.65f + kThreeSeconds + 0.01f).text, nullptr);

  // Progress values.
  EXPECT_NEAR(At(16.325f).speech_progress, 0.5f, 1e-5f);
  EXPECT_NEAR(At(17.35f).text_progress, 0.5f, 1e-5f);
}

TEST(OracleSchedule, WordsFollowTheSpeech) {
  // "WAKE THE STONE" over 16 to 16.65: each word holds about a third of the speech.
  struct Case {
    float bar;
    const char* word;
  } cases[] = {{16.02f, "WAKE"}, {16.15f, "WAKE"},  {16.3f, "THE"},
               {16.5f, "STONE"}, {16.64f, "STONE"}, {17.5f, "STONE"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bar);
    EXPECT_EQ(WordAt(c.bar), c.word);
  }
  // Each word shows in the middle of its share and fades over the last sixth of it; the last
  // word's share runs on a little past the speech (the text's progress adds 8 %), then it has
  // faded for good.
  EXPECT_GT(WordStrengthAt(16.1f), 0.0f);
  EXPECT_GT(WordStrengthAt(16.32f), 0.0f);
  EXPECT_GT(WordStrengthAt(16.52f), 0.0f);
  EXPECT_GT(WordStrengthAt(16.8f), 0.0f);  // fading: past 0.82 of its share
  EXPECT_EQ(WordStrengthAt(17.2f), 0.0f);
  EXPECT_EQ(WordStrengthAt(18.0f), 0.0f);
  // The words of every line match its text in order over its speech.
  for (const OracleLine& line : kOracleLines) {
    SCOPED_TRACE(line.text);
    std::string seen;
    std::string last;
    for (int n = 0; n <= 100; ++n) {
      const float bar = line.start + (line.speech_end - line.start) * static_cast<float>(n) / 100.0f;
      const std::string word = WordAt(bar);
      if (word != last) {
        seen += (seen.empty() ? "" : " ") + word;
        last = word;
      }
    }
    EXPECT_EQ(seen, line.text);
  }
}

TEST(OracleWord, LongWordsAreCutTo23CharactersAndClippedToTheBox) {
  OracleCue cue;
  cue.text_level = 1.0f;
  cue.voice_level = 1.0f;
  cue.speech_progress = 0.5f;  // the middle of the one word
  cue.text_progress = 0.2f;
  const char* text = "WWWWWWWWWWWWWWWWWWWWWWWWWWWWWW";  // 30 characters
  const OracleWord word = LayoutOracleWord(text, cue, 1.0f, 0.0f, kW);
  EXPECT_EQ(std::string(word.text), std::string(23, 'W'));
  EXPECT_EQ(word.box_x0, 498);
  EXPECT_EQ(word.box_x1, 498 + 124);
  EXPECT_EQ(word.box_y0, 146);
  EXPECT_EQ(word.box_y1, 164);
  // 23 characters at cell 1.37 are 189 pixels wide, centred on x = 560.
  EXPECT_NEAR(word.x, 560.0f - 3.0f * 23.0f * word.cell, 1e-4f);
  ASSERT_GT(word.strength, 0.0f);

  Framebuffer fb(kW, kH);
  DrawOracleWord(fb, OverlayStyle{}, MusicViz{}, word);
  EXPECT_FALSE(AnyLightOutside(fb, 498, 146, 622, 164));
  // Cut at the edges, not shrunk: both edge columns of the box carry light.
  EXPECT_GT(ColumnLight(fb, 498, 146, 164), 0.0f);
  EXPECT_GT(ColumnLight(fb, 621, 146, 164), 0.0f);

  // A line of spaces has no words: nothing to show.
  EXPECT_EQ(LayoutOracleWord("   ", cue, 1.0f, 0.0f, kW).strength, 0.0f);
}

TEST(OracleSubtitles, AtStrengthZeroTheHeadShowsFaintlyAndNoWords) {
  MusicViz mv;
  mv.bar = 16.3f;
  mv.lead = 0.5f;
  OverlayStyle style;
  style.flicker = 3.7f;
  style.glow = 0.2f;
  const OracleCue cue = At(16.3f);

  Framebuffer subtitles(kW, kH), head_only(kW, kH);
  DrawOracleSubtitles(subtitles, style, mv, 16.3f, 140.0f, 0.0f, 0.0f);
  DrawOracleHead(head_only, kW - 80.0f, 86.0f, style.flicker, mv, 0.46f * cue.head_level, style.glow, 0.0f,
                 1.0f, 1.0f);
  EXPECT_TRUE(SamePixels(subtitles, head_only));

  // With full strength the head is brighter and the word box lights up.
  Framebuffer full(kW, kH);
  DrawOracleSubtitles(full, style, mv, 16.3f, 140.0f, 1.0f, 0.0f);
  float box_full = 0, box_head = 0;
  for (int x = 498; x < 622; ++x) {
    box_full += ColumnLight(full, x, 146, 164);
    box_head += ColumnLight(head_only, x, 146, 164);
  }
  EXPECT_GT(box_full, box_head + 1.0f);

  // The greetings at 0.995 hide head and words entirely; just below they only dim them.
  Framebuffer hidden(kW, kH);
  DrawOracleSubtitles(hidden, style, mv, 16.3f, 140.0f, 1.0f, 0.995f);
  EXPECT_FALSE(AnyLightOutside(hidden, 0, 0, 0, 0));
  DrawOracleSubtitles(hidden, style, mv, 16.3f, 140.0f, 1.0f, 0.99f);
  EXPECT_TRUE(AnyLightOutside(hidden, 0, 0, 0, 0));
}

TEST(OracleHead, StaysInTheUpperRightAndIsDeterministic) {
  MusicViz mv;
  mv.bar = 33.4f;
  mv.lead = 1.0f;
  mv.impact = 1.0f;
  mv.cue_veil = 1.0f;
  mv.cue_reveal = 1.0f;
  Framebuffer a(kW, kH), b(kW, kH);
  DrawOracleHead(a, 560.0f, 86.0f, 7.1f, mv, 1.0f, 1.0f, 1.0f, 1.24f, 2.35f);
  DrawOracleHead(b, 560.0f, 86.0f, 7.1f, mv, 1.0f, 1.0f, 1.0f, 1.24f, 2.35f);
  EXPECT_TRUE(SamePixels(a, b));
  // The halo reaches 61 * 1.24 = 75.6 pixels from the centre; the wires stay inside it.
  EXPECT_FALSE(AnyLightOutside(a, 560 - 76, 0, kW, 86 + 76));
  // Nothing at all for a non-positive amount.
  Framebuffer none(kW, kH);
  DrawOracleHead(none, 560.0f, 86.0f, 7.1f, mv, 0.0f, 1.0f, 1.0f, 1.0f, 1.0f);
  EXPECT_FALSE(AnyLightOutside(none, 0, 0, 0, 0));
}

TEST(OracleSchedule, VoicesAndSubtitlesShareOneSchedule) {
  // Read through the public functions of both sides: each voice slot starts sounding exactly at
  // the bar its subtitle line starts, and speaks that line.
  for (int slot = 0; slot < kOracleVoiceCount; ++slot) {
    OracleVoiceSet voices;
    voices[slot].samples.assign(48000 * 4, 1.0f);
    voices[slot].loaded = true;

    // The subtitle line showing while this voice speaks.
    float start = -1.0f;
    for (int step = 0; step < 128 * 400; ++step) {
      const float bar = static_cast<float>(step) / 400.0f;
      if (MixOracleVoices(voices, bar, 140.0f) > 0.0f) {
        start = bar;
        break;
      }
    }
    ASSERT_GE(start, 0.0f) << "slot " << slot;
    const OracleCue cue = At(start + 0.1f);
    ASSERT_NE(cue.text, nullptr) << "slot " << slot;
    EXPECT_NEAR(cue.speech_progress * (kOracleLines[slot].speech_end - kOracleLines[slot].start), 0.1f,
                1e-3f);
    EXPECT_GT(cue.voice_level, 0.0f);

    // The recording's name is the line's words.
    std::string expected = "oracle_0" + std::to_string(slot + 1) + "_";
    for (const char* c = cue.text; *c != '\0'; ++c)
      expected += *c == ' ' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    expected += ".wav";
    EXPECT_EQ(kOracleVoiceCues[slot].file, expected);
  }
}
