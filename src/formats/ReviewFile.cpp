#include "formats/ReviewFile.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>

#include "formats/MitAnnotations.h"
#include "recording/OutputFile.h"

namespace {

constexpr int kNote = 22;  // MIT comment annotation
constexpr char kTag[] = "vitrel-review";
constexpr char kTimeResolution[] = "## time resolution: 250";

std::string IdentityNote(const RecordingIdentity& id)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s %d samples=%" PRIu64 " fnv1a=%016" PRIx64, kTag, REVIEW_FORMAT_VERSION,
                  id.sampleCount, id.checksum);
    return buf;
}

// "vitrel-review V key=value ..."; keys this version does not know are left alone.
bool ParseIdentityNote(const std::string& text, int* version, RecordingIdentity* id)
{
    std::istringstream in(text);
    std::string tag;
    if (!(in >> tag >> *version) || tag != kTag || *version < 1)
        return false;
    bool haveSamples = false, haveChecksum = false;
    std::string field;
    while (in >> field) {
        const size_t eq = field.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = field.substr(0, eq), value = field.substr(eq + 1);
        char* end = nullptr;
        if (key == "samples") {
            id->sampleCount = std::strtoull(value.c_str(), &end, 10);
            haveSamples = end && *end == '\0' && !value.empty();
        } else if (key == "fnv1a") {
            id->checksum = std::strtoull(value.c_str(), &end, 16);
            haveChecksum = end && *end == '\0' && !value.empty();
        }
    }
    return haveSamples && haveChecksum;
}

}  // namespace

RecordingIdentity IdentifyRecording(CEcgFile& ecg)
{
    RecordingIdentity id;
    id.sampleCount = ecg.GetSampleCount();
    uint64_t h = 0xcbf29ce484222325ULL;
    std::vector<int16_t> block(1 << 16);
    for (uint64_t first = 0; first < id.sampleCount;) {
        const uint32_t want = uint32_t(std::min<uint64_t>(block.size(), id.sampleCount - first));
        const uint32_t n = ecg.ReadSamples(block.data(), first, want);
        if (n == 0)
            break;
        for (uint32_t i = 0; i < n; ++i) {
            const uint16_t v = uint16_t(block[i]);
            h = (h ^ (v & 0xFF)) * 0x100000001b3ULL;
            h = (h ^ (v >> 8)) * 0x100000001b3ULL;
        }
        first += n;
    }
    id.checksum = h;
    return id;
}

std::string ReviewPathFor(const std::string& recordingPath)
{
    return recordingPath + ".vitrel.atr";
}

ReviewStatus ReadReview(const std::string& reviewPath, const RecordingIdentity& identity, SavedReview* out)
{
    std::ifstream in(reviewPath, std::ios::binary);
    if (!in)
        return ReviewStatus::absent;
    std::string bytes;
    try {
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::exception&) {
        // A folder or an unreadable file in the review's place: not a review, left alone.
        return ReviewStatus::damaged;
    }
    std::vector<MitAnnotation> annotations;
    if (!DecodeMitAnnotations(bytes, &annotations))
        return ReviewStatus::damaged;

    SavedReview review;
    RecordingIdentity stated;
    bool identified = false;
    for (const MitAnnotation& a : annotations) {
        if (a.code == kNote) {
            int version = 0;
            RecordingIdentity id;
            if (!identified && ParseIdentityNote(a.aux, &version, &id)) {
                identified = true;
                review.version = version;
                stated = id;
            }
            continue;
        }
        const BeatClass c = BeatClassFromMitCode(a.code);
        if (c == BeatClass::Unclassified)
            continue;  // rhythm and other notes another tool may have added
        if (a.sample > UINT32_MAX || (!review.beats.empty() && a.sample <= review.beats.back()))
            return ReviewStatus::damaged;
        review.beats.push_back(uint32_t(a.sample));
        review.classes.push_back(c);
    }
    if (!identified)
        return ReviewStatus::damaged;
    if (!(stated == identity))
        return ReviewStatus::foreign;
    if (!review.beats.empty() && review.beats.back() >= identity.sampleCount)
        return ReviewStatus::damaged;
    *out = std::move(review);
    return ReviewStatus::loaded;
}

bool WriteReview(const std::string& reviewPath, const RecordingIdentity& identity,
                 const std::vector<uint32_t>& beats, const std::vector<BeatClass>& classes, std::string* error)
{
    std::vector<MitAnnotation> annotations;
    annotations.reserve(beats.size() + 2);
    annotations.push_back({0, kNote, 0, 0, kTimeResolution});
    annotations.push_back({0, kNote, 0, 0, IdentityNote(identity)});
    for (size_t i = 0; i < beats.size() && i < classes.size(); ++i)
        annotations.push_back({beats[i], GetBeatClassInfo(classes[i]).mitCode, 0, 0, {}});
    COutputFile file;
    if (file.Open(reviewPath) && file.Write(EncodeMitAnnotations(annotations)) && file.Commit())
        return true;
    *error = file.ErrorMessage();
    return false;
}
