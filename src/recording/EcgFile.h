// Recording files: one abstract reader, three kinds chosen by file length.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "recording/File.h"
#include "recording/Time.h"

constexpr int ECG_SAMPLE_RATE = 250;      // samples per second
constexpr int ECG_UNITS_PER_MV = 1010;    // sample units per millivolt

enum EcgFileKind : int {
    ECG_KIND_HOLTER = 1,
    ECG_KIND_NORMAL = 2,
    ECG_KIND_REMOTE = 3,
    ECG_KIND_STANDARD = 4,  // EDF, BDF, GDF, WFDB, SCP-ECG, HL7 aECG, decoded into samples at 250/s
};

// Kinds whose beats the detector finds on a worker: everything else reads
// the recorder's own beat table.
constexpr bool IsLongRecordingKind(int kind)
{
    return kind == ECG_KIND_HOLTER || kind == ECG_KIND_STANDARD;
}
// The recorder's 21.6 s recordings, with and without the lead bytes.
constexpr bool IsShortRecordingKind(int kind)
{
    return kind == ECG_KIND_NORMAL || kind == ECG_KIND_REMOTE;
}
// Recordings of the standard formats, not the recorder's own files.
constexpr bool IsStandardRecordingKind(int kind)
{
    return kind == ECG_KIND_STANDARD;
}

constexpr uint64_t NORMAL_FILE_LENGTH = 14352;
constexpr uint64_t REMOTE_FILE_LENGTH = 14374;
constexpr uint32_t SHORT_SAMPLE_COUNT = 5400;
constexpr uint32_t RECORDING_HEADER_SIZE = 3552;
constexpr uint32_t REMOTE_LEAD_BYTES = 22;
constexpr int HEADER_BEAT_CAPACITY = 79;  // whole 44-byte records the header can hold

#pragma pack(push, 1)
struct HeaderBeatRecord {
    uint32_t nPosition;
    uint8_t reserved[40];
};

struct RecordingHeader {
    uint8_t year;         // calendar year - 2000
    uint8_t month;
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint8_t reserved6;
    uint8_t resultFlags;
    uint8_t qrsCount;
    uint8_t reserved9[5];
    uint16_t avgHeartRate;  // 0.1 bpm
    uint16_t avgPR;         // 2 ms units
    uint16_t avgQT;         // 2 ms units
    int16_t avgRAmplitude;  // 1010 per mV
    int16_t avgPAmplitude;
    int16_t avgTAmplitude;
    int16_t avgSTLevel;
    uint8_t reserved28[8];
    HeaderBeatRecord beats[HEADER_BEAT_CAPACITY];
    uint8_t reserved3512[40];
};
#pragma pack(pop)
static_assert(sizeof(HeaderBeatRecord) == 44);
static_assert(sizeof(RecordingHeader) == RECORDING_HEADER_SIZE);

// Little-endian field access that does not depend on the host's byte order.
uint16_t HeaderU16(const RecordingHeader& h, size_t offset);
int16_t HeaderI16(const RecordingHeader& h, size_t offset);
uint32_t HeaderBeatPosition(const RecordingHeader& h, int index);
// The header's beat count limited to the records the header can hold.
int HeaderBeatCount(const RecordingHeader& h);
// Mean RR of the header's beat table in samples: 0 with fewer than two
// beats, else (last - first) / (count - 1), truncated.
int32_t HeaderAverageRR(const RecordingHeader& h);

class CEcgFile : public CFile {
public:
    // Opens the path read-only at once; a failed open is not reported here:
    // the object stays closed and its reads raise file errors.
    explicit CEcgFile(const std::string& path);
    ~CEcgFile() override = default;

    virtual uint64_t GetSampleCount() = 0;
    virtual uint32_t ReadSamples(int16_t* buffer, uint64_t first, uint32_t count) = 0;
    virtual bool ReadHeader(void* buffer) = 0;
    virtual int GetFileKind() = 0;
    virtual bool GetStartTime(CTime* out) = 0;
    // "YYYY-MM-DD hh:mm" into a buffer of 32 characters (UTF-8 here).
    virtual bool FormatStartTime(char* buffer);
    // A second reader of the same recording, open, for the analysis worker.
    // Raises CFileException when it cannot be had.
    virtual std::unique_ptr<CEcgFile> OpenReader() = 0;
    // The name of the lead the samples are; empty when the file does not say.
    virtual std::string GetLeadLabel() const { return std::string(); }

    // Every lead the recording holds, in its own order, the analysed one
    // among them: the recorder's files have that one only.
    virtual int GetLeadCount() const { return 1; }
    virtual int GetAnalysedLead() const { return 0; }
    virtual std::string GetLeadName(int lead) const { return lead == 0 ? GetLeadLabel() : std::string(); }
    virtual uint32_t ReadLeadSamples(int lead, int16_t* buffer, uint64_t first, uint32_t count)
    {
        return lead == GetAnalysedLead() ? ReadSamples(buffer, first, count) : 0;
    }
    // The same recording with another lead analysed; null when there is none.
    virtual std::unique_ptr<CEcgFile> WithAnalysedLead(int /*lead*/) { return nullptr; }

protected:
    // A reader that keeps its samples elsewhere: no file is opened.
    struct NoOpen {};
    CEcgFile(const std::string& path, NoOpen) { m_strFileName = path; }

    // The common sample read with a header of headerWords 16-bit words.
    uint32_t ReadSamplesAt(int16_t* buffer, uint64_t first, uint32_t count, uint64_t headerWords);
};

// The two short kinds: leadBytes uninterpreted bytes, the 3552-byte header
// with the start time, then 5400 samples.
class CShortFile : public CEcgFile {
public:
    uint64_t GetSampleCount() override { return SHORT_SAMPLE_COUNT; }
    uint32_t ReadSamples(int16_t* buffer, uint64_t first, uint32_t count) override;
    bool ReadHeader(void* buffer) override;
    bool GetStartTime(CTime* out) override;
    std::unique_ptr<CEcgFile> OpenReader() override;

protected:
    CShortFile(const std::string& path, uint32_t leadBytes) : CEcgFile(path), m_nLeadBytes(leadBytes) {}

private:
    uint32_t m_nLeadBytes;
};

class CNormalFile : public CShortFile {
public:
    explicit CNormalFile(const std::string& path) : CShortFile(path, 0) {}
    int GetFileKind() override { return ECG_KIND_NORMAL; }
};

class CRemoteFile : public CShortFile {
public:
    explicit CRemoteFile(const std::string& path) : CShortFile(path, REMOTE_LEAD_BYTES) {}
    int GetFileKind() override { return ECG_KIND_REMOTE; }
};

class CHolterFile : public CEcgFile {
public:
    using CEcgFile::CEcgFile;
    uint64_t GetSampleCount() override;
    uint32_t ReadSamples(int16_t* buffer, uint64_t first, uint32_t count) override;
    bool ReadHeader(void*) override { return false; }
    int GetFileKind() override { return ECG_KIND_HOLTER; }
    bool GetStartTime(CTime* out) override;
    std::unique_ptr<CEcgFile> OpenReader() override;

    // The YYMMDDHH.MM name rule; false when the name does not follow it.
    static bool StartTimeFromName(const std::string& fileTitle, CTime* out);
};

// The reader of one of the recorder's kinds for path, open. Raises
// CFileException when the path cannot be opened or the kind is not one of them.
std::unique_ptr<CEcgFile> OpenEcgFileOfKind(int kind, const std::string& path);

// Recognises a recording of a standard format and opens it, or returns null
// for any other file. Raises CFileException for a damaged or unsupported one.
using StandardFormatOpener = std::function<std::unique_ptr<CEcgFile>(const std::string& path, CTime* pTimeStart)>;
// Registered once at start-up by programs that can read standard formats;
// without it, kind selection goes by file length alone.
void SetStandardFormatOpener(StandardFormatOpener opener);

// Kind selection: a registered standard-format opener first, then the exact
// file length. Raises CFileException when the path cannot be opened,
// CTimeException for a short recording with an impossible header date. Sets
// *pTimeStart when the file tells its start time.
std::unique_ptr<CEcgFile> OpenEcgFile(const std::string& path, CTime* pTimeStart);
