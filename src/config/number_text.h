#pragma once

// Lenient number reading for options and settings values: like atof and atoi, leading white
// space is skipped, reading stops at the first unusable character and text without a number
// reads as 0. Unlike them, no input has undefined behaviour: out-of-range floats become
// infinities and out-of-range integers saturate, so the callers' clamps handle both.

#include <string>

float ReadFloat(const std::string& text);
long long ReadInt(const std::string& text);
