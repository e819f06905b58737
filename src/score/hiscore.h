// The score client as the renderer's shell includes it: a worker built without a generator
// draws the query's random characters from the game's. Not part of the score libraries, which
// know nothing of the game; it goes once the shell includes client.h and hands its worker
// next_random itself.
#pragma once

#include "client.h"
#include "random.h"

inline score_post_worker::score_post_worker() : score_post_worker(next_random) {}
