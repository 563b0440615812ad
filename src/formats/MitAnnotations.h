// The MIT annotation format of WFDB (.atr and friends): written by the
// exports and the saved review, read back by the review.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct MitAnnotation {
    uint64_t sample = 0;
    int code = 0;      // 1..49, MitCode
    int subtype = 0;   // -128..127
    int channel = 0;   // 0..255
    std::string aux;   // at most 255 bytes; rhythm and note texts
};

// The bytes of an annotation file: annotations in ascending sample order.
std::string EncodeMitAnnotations(const std::vector<MitAnnotation>& annotations);
// The annotations of an annotation file; false when the bytes are not one
// (cut short, a time running backwards, a code out of range).
bool DecodeMitAnnotations(const std::string& bytes, std::vector<MitAnnotation>* out);
