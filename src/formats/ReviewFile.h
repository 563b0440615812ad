// A reviewer's beats kept beside the recording: a WFDB (MIT) annotation file
// NAME.vitrel.atr that other tools read as they read any annotation file.
// Its first annotations are notes: the time resolution (250/s) and the
// identity of the recording it belongs to (sample count and a checksum of
// the samples), so that a review is never applied to another file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/BeatClass.h"
#include "recording/EcgFile.h"

constexpr int REVIEW_FORMAT_VERSION = 2;

struct RecordingIdentity {
    uint64_t sampleCount = 0;
    uint64_t checksum = 0;  // FNV-1a over the samples as 16-bit little-endian words
    bool operator==(const RecordingIdentity&) const = default;
};

// Reads every sample once. Raises CFileException when a read fails.
RecordingIdentity IdentifyRecording(CEcgFile& ecg);

// The review file of the recording at path.
std::string ReviewPathFor(const std::string& recordingPath);

enum class ReviewStatus {
    absent,   // there is no review file
    loaded,
    foreign,  // a review of another recording, or of this one before it changed
    damaged,  // not a review this program can read
};

struct SavedReview {
    int version = 0;
    std::vector<uint32_t> beats;  // sorted, distinct, below the sample count
    std::vector<BeatClass> classes;
};

ReviewStatus ReadReview(const std::string& reviewPath, const RecordingIdentity& identity, SavedReview* out);
// Written whole or not at all; false with the path and the system's reason
// in *error, and an older review left as it was.
bool WriteReview(const std::string& reviewPath, const RecordingIdentity& identity,
                 const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes, std::string* error);
