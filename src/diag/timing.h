#pragma once
// Timing lines of the drivers and block codecs.

#include <ostream>
#include <string>

// Processor time in milliseconds from the standard clock, or -1 when the
// clock is unavailable.
long clockMillis();

// Writes `label`, then the elapsed seconds (end - start) / 1000 followed by
// "s" in the stream's current floating-point format, or "-" when either
// reading is -1, then a line end.
void printTime(std::ostream& os, const std::string& label, long start, long end);
