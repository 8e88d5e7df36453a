#pragma once

// The command line: the last layer of configuration, over the defaults and the settings files.

#include <string>

#include "config/app_options.h"

// What the program does after parsing.
enum class CommandLineAction {
  Run,       // go on with the show
  ShowHelp,  // --help: print UsageText(argv[0]) to standard output and exit with status 0
};

// Examines argv[1] .. argv[argc - 1] left to right. Matching is exact and case-sensitive; an
// option that takes a value consumes the next argument and is not recognised when there is none;
// unrecognised arguments are ignored. Numbers read like atof / atoi (malformed text reads as 0)
// and are clamped where a range applies. Per-scene options change the scene chosen so far
// (options.scene, from the settings or an earlier --scene). Stops at --help.
CommandLineAction ParseCommandLine(int argc, char** argv, AppOptions& options, SceneDebugTable& debug_params,
                                   SceneCameraTable& camera_params);

// The usage text with `program` (argv[0]) in place of "%s"; ends with a line feed.
std::string UsageText(const std::string& program);

// Region code of a tracker assembly region name ("full", "top", "top-left", "tl", "5", ...);
// false for an unknown name. Shared by --tracker-assembly-region and the settings key.
bool ParseTrackerRegion(const std::string& name, std::int32_t& region);

// "xm", "XM", "module" select the module player and "synth", "SYNTH" the synthesiser; other words
// leave `audio_source` unchanged and return false. Shared by --audio-source and the settings key.
bool ParseAudioSource(const std::string& word, std::int32_t& audio_source);
