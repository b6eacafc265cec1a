// Diagnostic lines of the device layer: each line is formatted whole and written with one call, then
// flushed, so lines written by different threads never interleave.
#pragma once

#include <cstdio>

void deviceLog(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));
