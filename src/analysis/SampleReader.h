// Access to the analysed lead for the steps after detection.
#pragma once

#include <cstdint>
#include <functional>

// Reads samples [first, first + count) of the analysed lead (250/s, 1010
// units per mV); returns how many were read.
using SampleReader = std::function<uint32_t(int16_t* buffer, uint64_t first, uint32_t count)>;
