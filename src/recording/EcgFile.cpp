#include "recording/EcgFile.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr unsigned kOpenFlags = CFile::modeRead | CFile::typeBinary | CFile::shareDenyNone;  // 0x8040

uint16_t LoadU16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

bool IsAsciiSpace(uint32_t c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// strtol-style base-10 conversion in the C locale: white space, sign, digits.
long ParseField(const std::vector<uint32_t>& chars, size_t from, size_t len)
{
    size_t i = from;
    const size_t end = from + len;
    while (i < end && IsAsciiSpace(chars[i]))
        ++i;
    bool negative = false;
    if (i < end && (chars[i] == '+' || chars[i] == '-')) {
        negative = chars[i] == '-';
        ++i;
    }
    long value = 0;
    while (i < end && chars[i] >= '0' && chars[i] <= '9') {
        value = value * 10 + static_cast<long>(chars[i] - '0');
        ++i;
    }
    return negative ? -value : value;
}

// Code points of a UTF-8 name, or its bytes when it is not valid UTF-8.
std::vector<uint32_t> NameCharacters(const std::string& name)
{
    const auto* s = reinterpret_cast<const unsigned char*>(name.data());
    const size_t n = name.size();
    std::vector<uint32_t> out;
    for (size_t i = 0; i < n;) {
        const unsigned char c = s[i];
        size_t extra;
        uint32_t cp;
        uint32_t minimum;
        if (c < 0x80) { extra = 0; cp = c; minimum = 0; }
        else if ((c & 0xE0) == 0xC0) { extra = 1; cp = c & 0x1F; minimum = 0x80; }
        else if ((c & 0xF0) == 0xE0) { extra = 2; cp = c & 0x0F; minimum = 0x800; }
        else if ((c & 0xF8) == 0xF0) { extra = 3; cp = c & 0x07; minimum = 0x10000; }
        else return std::vector<uint32_t>(s, s + n);
        if (i + extra >= n)
            return std::vector<uint32_t>(s, s + n);
        for (size_t k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80)
                return std::vector<uint32_t>(s, s + n);
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return std::vector<uint32_t>(s, s + n);
        out.push_back(cp);
        i += extra + 1;
    }
    return out;
}

}  // namespace

uint16_t HeaderU16(const RecordingHeader& h, size_t offset)
{
    return LoadU16(reinterpret_cast<const unsigned char*>(&h) + offset);
}

int16_t HeaderI16(const RecordingHeader& h, size_t offset)
{
    return static_cast<int16_t>(HeaderU16(h, offset));
}

uint32_t HeaderBeatPosition(const RecordingHeader& h, int index)
{
    const auto* p = reinterpret_cast<const unsigned char*>(&h.beats[index]);
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

int HeaderBeatCount(const RecordingHeader& h)
{
    return h.qrsCount > HEADER_BEAT_CAPACITY ? HEADER_BEAT_CAPACITY : h.qrsCount;
}

int32_t HeaderAverageRR(const RecordingHeader& h)
{
    const int n = HeaderBeatCount(h);
    if (n <= 1)
        return 0;
    const int32_t span = int32_t(HeaderBeatPosition(h, n - 1) - HeaderBeatPosition(h, 0));
    return span / int32_t(n - 1);
}

CEcgFile::CEcgFile(const std::string& path)
{
    CFileException ignored;
    if (!Open(path, kOpenFlags, &ignored))
        m_strFileName = path;
}

uint32_t CEcgFile::ReadSamplesAt(int16_t* buffer, uint64_t first, uint32_t count, uint64_t headerWords)
{
    // Offsets past what a file can hold read nothing rather than wrapping.
    constexpr uint64_t kMaxWord = static_cast<uint64_t>(INT64_MAX) / 2;
    if (first >= kMaxWord - headerWords)
        return 0;
    Seek(static_cast<int64_t>((first + headerWords) * 2), CFile::begin);
    auto* bytes = reinterpret_cast<unsigned char*>(buffer);
    const uint64_t want = static_cast<uint64_t>(count) * 2;
    uint64_t got = 0;
    while (got < want) {
        const uint32_t piece = static_cast<uint32_t>(std::min<uint64_t>(want - got, 1u << 30));
        const uint32_t n = Read(bytes + got, piece);
        got += n;
        if (n < piece)
            break;
    }
    if constexpr (std::endian::native == std::endian::big) {
        for (uint64_t i = 0; i < got / 2; ++i)
            buffer[i] = static_cast<int16_t>(LoadU16(bytes + 2 * i));
    }
    return static_cast<uint32_t>(got / 2);
}

bool CEcgFile::FormatStartTime(char* buffer)
{
    CTime t(0);
    if (!GetStartTime(&t))
        return false;
    const LocalFields f = t.GetLocalFields();
    std::snprintf(buffer, 32, "%04d-%02d-%02d %02d:%02d", f.year, f.month, f.day, f.hour, f.minute);
    return true;
}

uint32_t CShortFile::ReadSamples(int16_t* buffer, uint64_t first, uint32_t count)
{
    return ReadSamplesAt(buffer, first, count, (m_nLeadBytes + RECORDING_HEADER_SIZE) / 2);
}

bool CShortFile::ReadHeader(void* buffer)
{
    std::memset(buffer, 0, RECORDING_HEADER_SIZE);
    Seek(static_cast<int64_t>(m_nLeadBytes), CFile::begin);
    return Read(buffer, RECORDING_HEADER_SIZE) == RECORDING_HEADER_SIZE;
}

bool CShortFile::GetStartTime(CTime* out)
{
    RecordingHeader header;
    if (!ReadHeader(&header))
        return false;
    // Raises for impossible dates; the seconds byte is not part of the start time.
    *out = CTime(2000 + header.year, header.month, header.day, header.hour, header.minute, 0);
    return true;
}

uint64_t CHolterFile::GetSampleCount()
{
    return GetLength() / 2;
}

uint32_t CHolterFile::ReadSamples(int16_t* buffer, uint64_t first, uint32_t count)
{
    return ReadSamplesAt(buffer, first, count, 0);
}

bool CHolterFile::GetStartTime(CTime* out)
{
    if (!IsOpen())
        return false;
    return StartTimeFromName(GetFileTitle(), out);
}

bool CHolterFile::StartTimeFromName(const std::string& fileTitle, CTime* out)
{
    const std::vector<uint32_t> name = NameCharacters(fileTitle);
    if (name.size() != 11)
        return false;
    size_t lastDot = name.size();
    for (size_t i = 0; i < name.size(); ++i)
        if (name[i] == '.')
            lastDot = i;
    if (lastDot != 8)
        return false;
    const long year = ParseField(name, 0, 2);
    const long month = ParseField(name, 2, 2);
    const long day = ParseField(name, 4, 2);
    const long hour = ParseField(name, 6, 2);
    const long minute = ParseField(name, 9, 2);
    // Unsigned comparisons: a negative field fails its upper bound.
    if (static_cast<unsigned long>(year) > 99 || static_cast<unsigned long>(month) - 1 > 11 ||
        static_cast<unsigned long>(day) - 1 > 30 || static_cast<unsigned long>(hour) > 23 ||
        static_cast<unsigned long>(minute) > 59)
        return false;
    try {
        *out = CTime(2000 + static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                     static_cast<int>(hour), static_cast<int>(minute), 0);
    } catch (const CTimeException&) {
        return false;
    }
    return true;
}

std::unique_ptr<CEcgFile> CShortFile::OpenReader()
{
    return OpenEcgFileOfKind(GetFileKind(), m_strFileName);
}

std::unique_ptr<CEcgFile> CHolterFile::OpenReader()
{
    return OpenEcgFileOfKind(ECG_KIND_HOLTER, m_strFileName);
}

std::unique_ptr<CEcgFile> OpenEcgFileOfKind(int kind, const std::string& path)
{
    std::unique_ptr<CEcgFile> file;
    switch (kind) {
    case ECG_KIND_NORMAL: file = std::make_unique<CNormalFile>(path); break;
    case ECG_KIND_REMOTE: file = std::make_unique<CRemoteFile>(path); break;
    case ECG_KIND_HOLTER: file = std::make_unique<CHolterFile>(path); break;
    default: throw CFileException(CFileException::genericException, -1, path);
    }
    // The constructors do not report a failed open; raise the real cause
    // ("not found", "access denied") instead of leaving a closed file whose
    // first use fails with an invalid handle.
    if (!file->IsOpen()) {
        CFileException error;
        if (!file->Open(path, kOpenFlags, &error))
            throw error;
    }
    return file;
}

namespace {

StandardFormatOpener& RegisteredOpener()
{
    static StandardFormatOpener opener;
    return opener;
}

}  // namespace

void SetStandardFormatOpener(StandardFormatOpener opener)
{
    RegisteredOpener() = std::move(opener);
}

std::unique_ptr<CEcgFile> OpenEcgFile(const std::string& path, CTime* pTimeStart)
{
    uint64_t length = 0;
    {
        CFile probe;
        CFileException error;
        if (!probe.Open(path, kOpenFlags, &error))
            throw error;
        length = probe.GetLength();
    }
    if (const StandardFormatOpener& opener = RegisteredOpener()) {
        if (std::unique_ptr<CEcgFile> standard = opener(path, pTimeStart))
            return standard;
    }
    const int kind = length == NORMAL_FILE_LENGTH   ? ECG_KIND_NORMAL
                     : length == REMOTE_FILE_LENGTH ? ECG_KIND_REMOTE
                                                    : ECG_KIND_HOLTER;
    // The file may have gone since the probe.
    std::unique_ptr<CEcgFile> file = OpenEcgFileOfKind(kind, path);
    if (pTimeStart)
        file->GetStartTime(pTimeStart);
    return file;
}
