#pragma once
// The one way this program includes miniaudio: only the playback device API is used, so the
// decoders, encoders, node graph, resource manager and engine are compiled out. Every file
// that includes miniaudio includes it through this header so all of them see the same build
// options.

#define MA_NO_DECODING
#define MA_NO_ENCODING
#define MA_NO_GENERATION
#define MA_NO_RESOURCE_MANAGER
#define MA_NO_NODE_GRAPH
#define MA_NO_ENGINE
#include <miniaudio.h>
