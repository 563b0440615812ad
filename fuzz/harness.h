// Fuzz harness bodies, shared by the libFuzzer targets and the regression
// test that replays every saved crasher.
#pragma once

#include <cstddef>
#include <cstdint>

// Arbitrary bytes as a recording file with an arbitrary name: kind selection,
// start time, header and sample reads.
int FuzzKindSelection(const uint8_t* data, size_t size);
// Arbitrary bytes as a sample stream cut into several Detect calls.
int FuzzDetector(const uint8_t* data, size_t size);
// Arbitrary bytes as a sample stream given to the precise detector in pieces.
int FuzzPreciseDetector(const uint8_t* data, size_t size);
// Arbitrary bytes as a small recording analysed from end to end, with either detector.
int FuzzAnalysis(const uint8_t* data, size_t size);
