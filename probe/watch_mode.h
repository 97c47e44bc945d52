// --watch: a person plugs and unplugs programmers; the probe searches again
// after each event on a library thread, as the tool does, and shows how the
// event's mask relates to the table slots before and after.
#pragma once

#include <cstdint>

void RunWatch(uint32_t seconds);
