#pragma once

#include <cstdint>

namespace pelbrisk {

// The genre name for an ID3v1 genre byte; empty for the unnamed entries.
const char* GenreName(uint8_t index);

} // namespace pelbrisk
