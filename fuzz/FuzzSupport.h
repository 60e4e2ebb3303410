// FuzzSupport: the fuzzers' input as a real file, and the reader's promises
// checked after each run.
#pragma once

#include "textures/Texture.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Replaces the content of one in-memory file with `data` and returns a path
// that opens it from the start. The file lives as long as the process.
const std::string& InputAsFile(const uint8_t* data, size_t size);

// Silences the alert line; alerts are still recorded for the checks.
void QuietAlerts();

// Traps unless a read that returned `ok` kept the reader's promises: success
// with no alert and a whole pixel buffer of the stated size (every byte is
// read, so a short buffer shows under AddressSanitizer); failure with exactly
// one alert and no pixels.
void CheckReadOutcome(bool ok, const Texture& t);
