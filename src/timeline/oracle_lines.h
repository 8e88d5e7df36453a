#pragma once
// The eight oracle lines of the loop: where each is spoken, how long its subtitle stays and which
// voice recording speaks it. The synthesiser mixes the recordings in at `start` and the subtitle
// overlay times its words from the same record, so voice and words cannot drift apart.

#include <array>

struct OracleLine {
  float start;             // bar where the spoken line begins (the voice sample's trigger bar)
  float speech_end;        // bar where the speech ends
  float text_end;          // bar where the subtitle text should be gone
  float weight;            // strength of this line (0.88 to 1)
  const char* text;        // the words on screen
  const char* voice_file;  // the recording, inside an oracle_voice directory
};

inline constexpr int kOracleLineCount = 8;

// Bars of the 128-bar loop; lines never overlap.
inline constexpr std::array<OracleLine, kOracleLineCount> kOracleLines = {{
    {16.0f, 16.65f, 18.7f, 0.92f, "WAKE THE STONE", "oracle_01_wake_the_stone.wav"},
    {20.0f, 20.68f, 23.2f, 1.0f, "BODY OPTIONAL", "oracle_02_body_optional.wav"},
    {33.0f, 33.7f, 36.2f, 0.88f, "NOVA IS SIGNAL", "oracle_03_nova_is_signal.wav"},
    {45.0f, 45.66f, 48.5f, 0.92f, "STONE DREAMS", "oracle_04_stone_dreams.wav"},
    {61.5f, 62.23f, 64.4f, 1.0f, "OPERATOR NEAR", "oracle_05_operator_near.wav"},
    {72.0f, 72.8f, 75.8f, 0.9f, "THE FLOOR REMEMBERS", "oracle_06_the_floor_remembers.wav"},
    {84.0f, 84.9f, 87.8f, 0.96f, "DO NOT TRUST THE SKY", "oracle_07_do_not_trust_the_sky.wav"},
    {93.0f, 93.7f, 96.4f, 1.0f, "TRANSMIT THE NIGHT", "oracle_08_transmit_the_night.wav"},
}};
