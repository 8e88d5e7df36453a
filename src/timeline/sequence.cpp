#include "timeline/sequence.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "assets/asset_store.h"
#include "assets/printable_text.h"

namespace {

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string Trim(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsSpace(text[first])) ++first;
    while (last > first && IsSpace(text[last - 1])) --last;
    return text.substr(first, last - first);
}

std::vector<std::string> SplitTokens(const std::string& text) {
    std::vector<std::string> tokens;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsSpace(text[i])) ++i;
        const std::size_t start = i;
        while (i < text.size() && !IsSpace(text[i])) ++i;
        if (i > start) tokens.push_back(text.substr(start, i - start));
    }
    return tokens;
}

// The whole text is one number (strtod, nothing left over). Bar positions out of float range
// come out infinite and fail the range checks that follow.
bool ParseFloat(const std::string& text, float& out) {
    if (text.empty() || IsSpace(text[0])) return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    const double value = std::strtod(begin, &end);
    if (end != begin + text.size()) return false;
    out = static_cast<float>(value);
    return true;
}

// A level or length: a whole number that is also finite, so "inf" or "nan" never reaches the
// cue levels the pictures are multiplied by.
bool ParseFiniteFloat(const std::string& text, float& out) {
    return ParseFloat(text, out) && std::isfinite(out);
}

// Base-10 integer, whole text consumed; values beyond int32 are out of the scene range anyway.
bool ParseScene(const std::string& text, std::int32_t& out) {
    if (text.empty() || IsSpace(text[0])) return false;
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(begin, &end, 10);
    if (end != begin + text.size()) return false;
    if (errno == ERANGE || value < INT32_MIN || value > INT32_MAX) {
        out = 0;  // fails 1..8
        return true;
    }
    out = static_cast<std::int32_t>(value);
    return true;
}

bool SplitKeyValue(const std::string& token, std::string& key, std::string& value) {
    const std::size_t equals = token.find('=');
    if (equals == std::string::npos) return false;
    key = token.substr(0, equals);
    value = token.substr(equals + 1);
    return true;
}

// Empty message = the line was accepted.
std::string ParseSection(const std::vector<std::string>& tokens, float loop_bars, SequenceSection& section) {
    if (tokens.size() < 3) return "section expects start end scene=N";
    if (!ParseFloat(tokens[0], section.start) || !ParseFloat(tokens[1], section.end)) {
        return "invalid section bar range";
    }
    for (std::size_t i = 2; i < tokens.size(); ++i) {
        std::string key;
        std::string value;
        if (!SplitKeyValue(tokens[i], key, value) || key.empty()) return "expected section option key=value";
        if (key == "scene") {
            if (!ParseScene(value, section.scene)) return "invalid section scene";
        } else if (key == "label") {
            section.label = value;
        } else {
            return "unknown section option '" + PrintableText(key) + "'";
        }
    }
    const bool in_loop = section.start >= 0.0f && section.start < section.end && section.end <= loop_bars + 0.001f;
    const bool scene_ok = section.scene >= 1 && section.scene <= 8;
    if (!in_loop || !scene_ok) return "section is outside loop or scene range";
    return {};
}

std::string ParseCue(const std::vector<std::string>& tokens, float loop_bars, SequenceCue& cue) {
    if (tokens.size() < 3) return "cue expects start end name";
    if (!ParseFloat(tokens[0], cue.start) || !ParseFloat(tokens[1], cue.end)) return "invalid cue bar range";

    // Third token: the name, bare or as name=TEXT.
    std::string key;
    std::string value;
    if (SplitKeyValue(tokens[2], key, value)) {
        if (key != "name") return "cue third token must be name or name=...";
        cue.name = value;
    } else {
        cue.name = tokens[2];
    }

    // Named options anywhere; bare numbers fill amount, fade_in, fade_out in turn.
    float* const positional[3] = {&cue.amount, &cue.fade_in, &cue.fade_out};
    int positional_used = 0;
    for (std::size_t i = 3; i < tokens.size(); ++i) {
        if (SplitKeyValue(tokens[i], key, value)) {
            if (key == "amount") {
                if (!ParseFiniteFloat(value, cue.amount)) return "invalid cue amount";
            } else if (key == "fade_in") {
                if (!ParseFiniteFloat(value, cue.fade_in)) return "invalid cue fade_in";
            } else if (key == "fade_out") {
                if (!ParseFiniteFloat(value, cue.fade_out)) return "invalid cue fade_out";
            } else {
                return "unknown cue option '" + PrintableText(key) + "'";
            }
            continue;
        }
        float number = 0.0f;
        if (!ParseFiniteFloat(tokens[i], number)) return "invalid positional cue value";
        if (positional_used == 3) return "too many positional cue values";
        *positional[positional_used++] = number;
    }

    const bool in_loop = cue.start >= 0.0f && cue.start < cue.end && cue.end <= loop_bars + 0.001f;
    const bool fades_ok = cue.fade_in >= 0.0f && cue.fade_out >= 0.0f;
    if (cue.name.empty() || !in_loop || !fades_ok) return "cue is outside loop or has invalid values";
    return {};
}

}  // namespace

SequenceParseResult ParseSequence(const std::string& text) {
    SequenceParseResult result;
    // The end bar and line of every section and cue, in file order: a loop_bars line further down
    // can shorten the loop below them, so they are checked once more against the final loop.
    struct Placed {
        float end;
        int line;
        bool section;
    };
    std::vector<Placed> placed;
    int line_number = 0;
    std::size_t line_start = 0;
    while (line_start < text.size()) {
        std::size_t line_end = text.find('\n', line_start);
        if (line_end == std::string::npos) line_end = text.size();
        std::string line = text.substr(line_start, line_end - line_start);
        line_start = line_end + 1;
        ++line_number;

        // Comment, trim, skip empty lines.
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        line = Trim(line);
        if (line.empty()) continue;

        auto fail = [&](const std::string& message) {
            result.ok = false;
            result.error_line = line_number;
            result.error = message;
            return result;
        };
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) return fail("expected key=value");
        const std::string key = Trim(line.substr(0, equals));
        const std::string value = Trim(line.substr(equals + 1));

        if (key == "audio_source") {
            if (value == "xm" || value == "XM" || value == "module") {
                result.music.has_audio_source = true;
                result.music.audio_source = 0;
            } else if (value == "synth" || value == "SYNTH") {
                result.music.has_audio_source = true;
                result.music.audio_source = 1;
            }
        } else if (key == "xm_path") {
            result.music.has_xm_path = true;
            result.music.xm_path = value.empty() ? std::string(kDefaultModulePath) : value;
        } else if (key == "loop_bars") {
            float loop_bars = 0.0f;
            if (!ParseFiniteFloat(value, loop_bars) || !(loop_bars >= 1.0f)) return fail("invalid loop_bars");
            result.loop_bars = loop_bars;
        } else if (key == "section") {
            SequenceSection section;
            const std::string message = ParseSection(SplitTokens(value), result.loop_bars, section);
            if (!message.empty()) return fail(message);
            placed.push_back({section.end, line_number, true});
            result.sections.push_back(std::move(section));
        } else if (key == "cue") {
            SequenceCue cue;
            const std::string message = ParseCue(SplitTokens(value), result.loop_bars, cue);
            if (!message.empty()) return fail(message);
            placed.push_back({cue.end, line_number, false});
            result.cues.push_back(std::move(cue));
        } else {
            return fail("unknown key '" + PrintableText(key) + "'");
        }
    }
    for (const Placed& p : placed) {
        if (p.end <= result.loop_bars + 0.001f) continue;
        result.ok = false;
        result.error_line = p.line;
        result.error = p.section ? "section is outside loop or scene range" : "cue is outside loop or has invalid values";
        return result;
    }
    result.ok = true;
    return result;
}

void UseBuiltInSequence(const std::string& reason, SequenceTimeline& timeline) {
    // Canyon, dot field and arena alternate in 16-bar sections; the club look and the finale are
    // cued over the last two.
    timeline.loop_bars = kBuiltInLoopBars;
    timeline.sections = {
        {0.0f, 16.0f, 1, "canyon_intro"},    {16.0f, 32.0f, 3, "dot_lift"},
        {32.0f, 48.0f, 2, "object_drop"},    {48.0f, 64.0f, 3, "dot_breakdown"},
        {64.0f, 80.0f, 1, "canyon_return"},  {80.0f, 96.0f, 2, "object_return"},
        {96.0f, 112.0f, 2, "club_stage"},    {112.0f, 128.0f, 3, "dot_finale"},
    };
    timeline.cues = {
        {0.0f, 3.65f, 1.0f, 0.0f, 0.7f, "intro"},
        {4.25f, 12.0f, 1.0f, 0.45f, 3.0f, "title"},
        {96.0f, 112.0f, 1.0f, 4.0f, 6.0f, "club"},
        {112.0f, 128.0f, 1.0f, 1.0f, 4.0f, "finale"},
    };
    timeline.status = reason + "; using built-in sequence";
}

void ApplySequenceMusicChoice(const SequenceMusicChoice& choice, MusicSelection music) {
    if (choice.has_audio_source && !music.audio_source_explicit) music.audio_source = choice.audio_source;
    if (choice.has_xm_path && !music.xm_path_explicit) music.xm_path = choice.xm_path;
}

void LoadSequence(AssetStore& assets, const std::string& path, MusicSelection music, SequenceTimeline& timeline) {
    std::string text;
    if (!assets.ReadText(path, text)) {
        UseBuiltInSequence("No sequence file " + path, timeline);
        return;
    }
    SequenceParseResult parsed = ParseSequence(text);
    ApplySequenceMusicChoice(parsed.music, music);
    if (!parsed.ok) {
        UseBuiltInSequence("Invalid sequence " + path + " line " + std::to_string(parsed.error_line) + ": " +
                               parsed.error,
                           timeline);
        return;
    }
    if (parsed.sections.empty()) {
        UseBuiltInSequence("Sequence " + path + " has no sections", timeline);
        return;
    }
    std::stable_sort(parsed.sections.begin(), parsed.sections.end(),
                     [](const SequenceSection& a, const SequenceSection& b) { return a.start < b.start; });
    timeline.loop_bars = parsed.loop_bars;
    timeline.sections = std::move(parsed.sections);
    timeline.cues = std::move(parsed.cues);
    timeline.status = "Loaded sequence " + path + " sections=" + std::to_string(timeline.sections.size()) +
                      " cues=" + std::to_string(timeline.cues.size());
}
