#include "harness.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "analysis/EcgDocument.h"
#include "analysis/PreciseQrsDetector.h"
#include "analysis/QrsDetector.h"
#include "recording/EcgFile.h"
#include "scratch.h"

namespace {

// A file name from fuzz bytes: no separators, no NUL, not empty, not a dot entry.
std::string SafeName(const uint8_t* p, size_t n)
{
    std::string name;
    for (size_t i = 0; i < n; ++i)
        name.push_back(p[i] == '/' || p[i] == 0 ? '_' : static_cast<char>(p[i]));
    if (name.empty() || name == "." || name == "..")
        name = "x" + name;
    return name;
}

class CheckingView : public IAnalysisView {
public:
    void ShowProgress() override { ++shown; }
    void SetProgress(short percent) override
    {
        FUZZ_CHECK(percent >= 0 && percent <= 100);
        FUZZ_CHECK(percent != last);
        last = percent;
    }
    void OnDetectionFinished(bool completed) override
    {
        FUZZ_CHECK(!detectionFinished);
        detectionFinished = true;
        this->completed = completed;
    }
    void BeginStatisticsProgress() override
    {
        FUZZ_CHECK(detectionFinished && completed);
        last = 0;
    }
    void OnStatisticsFinished(bool produced) override
    {
        FUZZ_CHECK(detectionFinished);
        statisticsFinished = true;
        this->produced = produced;
    }
    int shown = 0;
    short last = 0;
    bool detectionFinished = false, completed = false, statisticsFinished = false, produced = false;
};

// The vectorised detector must leave exactly the reference's results and state.
void CheckSameAsReference(const QrsDetector& fast, const QrsDetector& ref)
{
    FUZZ_CHECK(fast.m_nThreshold == ref.m_nThreshold);
    FUZZ_CHECK(fast.m_nMinSpacing == ref.m_nMinSpacing);
    FUZZ_CHECK(fast.m_nCarry == ref.m_nCarry);
    FUZZ_CHECK(std::memcmp(fast.m_bandDelay, ref.m_bandDelay, sizeof fast.m_bandDelay) == 0);
    FUZZ_CHECK(std::memcmp(fast.m_envDelay, ref.m_envDelay, sizeof fast.m_envDelay) == 0);
    FUZZ_CHECK(std::memcmp(fast.m_bandOut, ref.m_bandOut, sizeof fast.m_bandOut) == 0);
    FUZZ_CHECK(std::memcmp(fast.m_envOut, ref.m_envOut, sizeof fast.m_envOut) == 0);
}

}  // namespace

int FuzzKindSelection(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // Byte 0: name length; byte 1: padding to a short kind's exact length.
    const size_t nameLen = std::min<size_t>(data[0] % 24, size - 2);
    const uint8_t pad = data[1];
    const std::string name = SafeName(data + 2, nameLen);
    std::vector<uint8_t> body(data + 2 + nameLen, data + size);
    if (pad & 1)
        body.resize((pad & 2) ? REMOTE_FILE_LENGTH : NORMAL_FILE_LENGTH, static_cast<uint8_t>(pad));

    CTime fromName(0);
    CHolterFile::StartTimeFromName(name, &fromName);

    const std::string path = WriteFuzzFile(name, body.data(), body.size());
    try {
        CTime start(0);
        auto file = OpenEcgFile(path, &start);
        FUZZ_CHECK(file);
        const int kind = file->GetFileKind();
        FUZZ_CHECK(kind >= 1 && kind <= 3);
        const uint64_t count = file->GetSampleCount();
        FUZZ_CHECK(kind == 1 ? count == body.size() / 2 : count == SHORT_SAMPLE_COUNT);
        RecordingHeader header;
        const bool hasHeader = file->ReadHeader(&header);
        FUZZ_CHECK(hasHeader == (kind != 1));
        if (hasHeader) {
            FUZZ_CHECK(HeaderBeatCount(header) <= HEADER_BEAT_CAPACITY);
            (void)CEcgDocument::GetHeaderAverageRR(header);
        }
        char text[32];
        std::memset(text, 0, sizeof text);
        if (file->FormatStartTime(text))
            FUZZ_CHECK(std::strlen(text) < sizeof text);
        int16_t samples[64];
        const uint64_t probes[] = {0, count ? count - 1 : 0, count, count + 5, UINT64_MAX / 4};
        for (uint64_t first : probes) {
            const uint32_t n = file->ReadSamples(samples, first, 64);
            FUZZ_CHECK(n <= 64);
            FUZZ_CHECK(first >= count ? n == 0 : n == std::min<uint64_t>(64, count - first));
        }
    } catch (const CFileException&) {
    } catch (const CTimeException&) {
    }
    unlink(path.c_str());
    return 0;
}


int FuzzDetector(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    static QrsDetector detector, reference;
    detector.Reset();
    reference.Reset();
    // The first bytes choose the call lengths; the rest is the stream.
    const uint8_t calls = static_cast<uint8_t>(data[0] % 6 + 1);
    const uint16_t unit = static_cast<uint16_t>(data[1] | (data[2] << 8));
    const int16_t* stream = reinterpret_cast<const int16_t*>(data + 4);
    size_t left = (size - 4) / 2;
    std::vector<int16_t> input;
    std::vector<uint32_t> out, refOut;
    for (uint8_t c = 0; c < calls && left > 0; ++c) {
        size_t len = c + 1 == calls ? left : std::min<size_t>(left, (unit >> (c * 2)) % 4000 + 1);
        input.assign(len, 0);
        std::memcpy(input.data(), stream, len * 2);
        // Capacity for every candidate of the call: 31 per started block of 1500.
        out.assign((len + 1499) / 1500 * 31 + 1, 0xDEADBEEF);
        uint32_t found = 12345;
        FUZZ_CHECK(detector.Detect(input.data(), static_cast<uint32_t>(len), out.data(), &found));
        FUZZ_CHECK(found <= out.size());
        for (uint32_t i = 0; i < found; ++i) {
            const int32_t p = static_cast<int32_t>(out[i]);
            if (p >= 0)
                FUZZ_CHECK(static_cast<size_t>(p) < len);
            if (i > 0 && p >= 0 && static_cast<int32_t>(out[i - 1]) >= 0)
                FUZZ_CHECK(out[i] > out[i - 1] + 30);
        }
        FUZZ_CHECK(detector.m_nThreshold >= QRS_THRESHOLD_FLOOR);
        refOut.assign(out.size(), 0xDEADBEEF);
        uint32_t refFound = 54321;
        FUZZ_CHECK(reference.DetectReference(input.data(), static_cast<uint32_t>(len), refOut.data(), &refFound));
        FUZZ_CHECK(refFound == found);
        FUZZ_CHECK(std::equal(out.begin(), out.begin() + found, refOut.begin()));
        CheckSameAsReference(detector, reference);
        stream += len;
        left -= len;
    }
    return 0;
}

int FuzzPreciseDetector(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    // As FuzzDetector: the first bytes choose the piece lengths.
    const uint8_t calls = static_cast<uint8_t>(data[0] % 6 + 1);
    const uint16_t unit = static_cast<uint16_t>(data[1] | (data[2] << 8));
    const size_t total = (size - 4) / 2;
    std::vector<int16_t> stream(total);
    if (total)
        std::memcpy(stream.data(), data + 4, total * 2);
    PreciseQrsDetector pieces, whole;
    std::vector<uint64_t> beats, all;
    size_t given = 0;
    for (uint8_t c = 0; c < calls && given < total; ++c) {
        const size_t len = c + 1 == calls ? total - given : std::min<size_t>(total - given, (unit >> (c * 2)) % 4000 + 1);
        const size_t before = beats.size();
        pieces.Process(stream.data() + given, len, beats);
        given += len;
        for (size_t i = before; i < beats.size(); ++i)
            FUZZ_CHECK(beats[i] < given);
    }
    pieces.Finish(beats);
    for (size_t i = 0; i < beats.size(); ++i) {
        FUZZ_CHECK(beats[i] < total);
        FUZZ_CHECK(i == 0 || beats[i] > beats[i - 1]);
    }
    whole.Process(stream.data(), total, all);
    whole.Finish(all);
    FUZZ_CHECK(all == beats);
    return 0;
}

int FuzzAnalysis(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const std::string name = (data[0] & 1) ? "10110814.30" : "recording.bin";
    const std::string path = WriteFuzzFile(name, data + 1, size - 1);
    {
        CEcgDocument doc;
        try {
            doc.OpenFile(path);
        } catch (const CFileException&) {
            unlink(path.c_str());
            return 0;
        } catch (const CTimeException&) {
            unlink(path.c_str());
            return 0;
        }
        CheckingView view;
        doc.SetDetectorKind((data[0] & 2) ? DetectorKind::Precise : DetectorKind::Standard);
        doc.StartAnalysis(&view);
        doc.WaitAnalysis();
        FUZZ_CHECK(view.detectionFinished);
        FUZZ_CHECK(doc.IsDetectionDone());
        FUZZ_CHECK(view.statisticsFinished);
        FUZZ_CHECK(view.produced == doc.IsStatisticsReady());
        std::vector<uint32_t> beats;
        doc.GetBeatsInRange(0, UINT32_MAX, beats);
        FUZZ_CHECK(view.produced == (beats.size() >= 2));
        for (size_t i = 1; i < beats.size(); ++i)
            FUZZ_CHECK(beats[i] > beats[i - 1]);
        for (uint32_t b : beats)
            FUZZ_CHECK(doc.GetFileKind() != 1 || b < doc.GetSampleCount());
        std::vector<uint32_t> abnormal;
        doc.GetAbnormalBeats(abnormal);
        FUZZ_CHECK(abnormal.size() <= beats.size());
        std::vector<const HourRateStats*> hours;
        doc.GetHourStats(hours);
        for (const HourRateStats* h : hours)
            FUZZ_CHECK(h->fMinRate <= h->fMaxRate);
        (void)doc.FindMinRatePosition();
        (void)doc.FindMaxRatePosition();
    }
    unlink(path.c_str());
    return 0;
}
