#pragma once
// Every hot path of the renderer that has a fast version (vector code, polynomial sines,
// cached work) keeps its plain straightforward version as the reference it is tested against.
// Setting the environment variable KESTREL_PLAIN_PATHS=1 makes a whole run use the plain
// versions, so `scripts/bench` can measure what the fast ones gain in the real show and a test
// can compare whole frames both ways. Read once, on first use.

bool PlainPathsForced();
