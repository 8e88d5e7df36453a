#pragma once

// The show's timeline: a loop of `loop_bars` bars divided into sections (which scene to show) and
// named cues (visual events that fade in and out). Read once at start-up from a sequence file of
// key=value lines; a missing, empty or faulty file is replaced whole by the built-in sequence.

#include <cstdint>
#include <string>
#include <vector>

class AssetStore;

// The build sets the default sequence with the production (the sibling production has its own).
#ifdef KESTREL_DEFAULT_SEQUENCE_PATH
inline constexpr const char* kDefaultSequencePath = KESTREL_DEFAULT_SEQUENCE_PATH;
#else
inline constexpr const char* kDefaultSequencePath = "data/kestrel/kestrel_sequence.txt";
#endif
inline constexpr const char* kDefaultModulePath = "data/modules/KOBALT.XM";
inline constexpr float kBuiltInLoopBars = 128.0f;

struct SequenceSection {
    float start = 0.0f;  // first bar of the section
    float end = 0.0f;    // bar where it ends (exclusive)
    std::int32_t scene = 1;  // 1..8
    std::string label;       // free text
};

struct SequenceCue {
    float start = 0.0f;     // bar where the cue reaches full level
    float end = 0.0f;       // bar where it starts to fade out
    float amount = 1.0f;    // peak level
    float fade_in = 0.0f;   // bars of smooth rise before start
    float fade_out = 0.0f;  // bars of smooth fall after end
    std::string name;
};

// What the App runs with.
struct SequenceTimeline {
    float loop_bars = kBuiltInLoopBars;
    std::vector<SequenceSection> sections;
    std::vector<SequenceCue> cues;
    std::string status;  // one line: loaded, or why the built-in sequence is used
};

// Music choices made by a sequence file's audio_source and xm_path lines (those before its first
// error count: they take effect even when a later line fails).
struct SequenceMusicChoice {
    bool has_audio_source = false;
    std::int32_t audio_source = 1;  // 0 tracker module, 1 synthesiser
    bool has_xm_path = false;
    std::string xm_path;
};

// The music settings a sequence may change unless the command line set them.
struct MusicSelection {
    std::int32_t& audio_source;    // 0 tracker module, 1 synthesiser
    bool audio_source_explicit;    // chosen on the command line
    std::string& xm_path;
    bool xm_path_explicit;         // --xm-path given
};

struct SequenceParseResult {
    bool ok = false;
    int error_line = 0;         // 1-based line of the first error
    std::string error;          // its message, e.g. "invalid section scene"
    float loop_bars = kBuiltInLoopBars;
    std::vector<SequenceSection> sections;  // in file order
    std::vector<SequenceCue> cues;          // in file order
    SequenceMusicChoice music;
};

// Parses sequence text. Stops at the first error; the sections and cues are then not to be used,
// but `music` holds the choices of the lines before it.
SequenceParseResult ParseSequence(const std::string& text);

// The built-in 128-bar sequence; status = reason + "; using built-in sequence".
void UseBuiltInSequence(const std::string& reason, SequenceTimeline& timeline);

// Applies the file's music choices where the command line did not choose.
void ApplySequenceMusicChoice(const SequenceMusicChoice& choice, MusicSelection music);

// Reads the sequence at `path` through the asset store, applies its music choices (even when the
// file later fails) and installs it, or the built-in sequence with the reason in the status.
void LoadSequence(AssetStore& assets, const std::string& path, MusicSelection music, SequenceTimeline& timeline);
