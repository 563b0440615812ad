#include "formats/WfdbRecord.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <fstream>
#include <functional>
#include <sstream>
#include <sys/stat.h>

#include "recording/File.h"

namespace {

bool KnownFormat(int f)
{
    switch (f) {
    case 8: case 16: case 24: case 32: case 61: case 80: case 160: case 212: case 310: case 311: return true;
    default: return false;
    }
}

// Bits one sample takes in the file (310 and 311 pack three in 32 bits).
double BitsPerSample(int format)
{
    switch (format) {
    case 8: case 80: return 8;
    case 212: return 12;
    case 24: return 24;
    case 32: return 32;
    case 310: case 311: return 32.0 / 3.0;
    default: return 16;
    }
}

bool ParseInt(const std::string& s, long long* out)
{
    if (s.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    *out = std::strtoll(s.c_str(), &end, 10);
    return errno == 0 && *end == '\0';
}

// "212x2:3+512": format, samples per frame, skew, byte offset.
bool ParseFormatField(const std::string& t, WfdbSignal* s)
{
    char* p = nullptr;
    const long format = std::strtol(t.c_str(), &p, 10);
    if (p == t.c_str())
        return false;
    s->format = int(format);
    while (*p) {
        const char tag = *p++;
        char* end = nullptr;
        const long long v = std::strtoll(p, &end, 10);
        if (end == p || v < 0 || v > INT_MAX)
            return false;
        p = end;
        if (tag == 'x')
            s->samplesPerFrame = int(v);
        else if (tag == ':')
            s->skew = int(v);
        else if (tag == '+')
            s->byteOffset = v;
        else
            return false;
    }
    return s->samplesPerFrame >= 1 && s->samplesPerFrame <= 1024;
}

// "-200(1024)/mV": gain, baseline, units.
bool ParseGainField(const std::string& t, WfdbSignal* s, bool* hasBaseline)
{
    char* p = nullptr;
    s->gain = std::strtod(t.c_str(), &p);
    if (p == t.c_str() || !std::isfinite(s->gain))
        return false;
    if (*p == '(') {
        char* end = nullptr;
        const long v = std::strtol(p + 1, &end, 10);
        if (end == p + 1 || *end != ')')
            return false;
        s->baseline = int(v);
        *hasBaseline = true;
        p = end + 1;
    }
    if (*p == '/')
        s->units = p + 1;
    else if (*p)
        return false;
    if (s->gain == 0)
        s->gain = 200;
    return true;
}

class ByteSource {
public:
    ByteSource(const std::string& path, int64_t offset) : m_in(path, std::ios::binary)
    {
        if (m_in)
            m_in.seekg(offset);
    }
    bool Good() const { return bool(m_in); }
    // -1 at the end of the file.
    int Next()
    {
        if (m_at == m_size) {
            m_in.read(m_buffer, sizeof m_buffer);
            m_size = size_t(m_in.gcount());
            m_at = 0;
            if (m_size == 0)
                return -1;
        }
        return static_cast<unsigned char>(m_buffer[m_at++]);
    }

private:
    std::ifstream m_in;
    char m_buffer[1 << 16];
    size_t m_at = 0, m_size = 0;
};

int SignExtend(int v, int bits)
{
    const int m = 1 << (bits - 1);
    return (v ^ m) - m;
}

// Turns a file's bytes into its sample stream; the packed formats carry
// state between samples.
class SampleDecoder {
public:
    SampleDecoder(ByteSource& in, int format) : m_in(in), m_format(format) {}

    // False at the end of the data; *invalid for the format's "no sample" value.
    bool Next(int* value, bool* invalid)
    {
        int b0, b1, b2, b3;
        *invalid = false;
        switch (m_format) {
        case 8:
        case 80:
            if ((b0 = m_in.Next()) < 0)
                return false;
            *value = m_format == 8 ? SignExtend(b0, 8) : b0 - 128;
            *invalid = m_format == 80 && *value == -128;
            return true;
        case 16:
        case 61:
        case 160:
            if ((b0 = m_in.Next()) < 0 || (b1 = m_in.Next()) < 0)
                return false;
            if (m_format == 61)
                std::swap(b0, b1);
            *value = m_format == 160 ? (b0 | (b1 << 8)) - 32768 : SignExtend(b0 | (b1 << 8), 16);
            *invalid = *value == -32768;
            return true;
        case 24:
            if ((b0 = m_in.Next()) < 0 || (b1 = m_in.Next()) < 0 || (b2 = m_in.Next()) < 0)
                return false;
            *value = SignExtend(b0 | (b1 << 8) | (b2 << 16), 24);
            *invalid = *value == -(1 << 23);
            return true;
        case 32: {
            if ((b0 = m_in.Next()) < 0 || (b1 = m_in.Next()) < 0 || (b2 = m_in.Next()) < 0 || (b3 = m_in.Next()) < 0)
                return false;
            const uint32_t u = uint32_t(b0) | uint32_t(b1) << 8 | uint32_t(b2) << 16 | uint32_t(b3) << 24;
            *value = int(int32_t(u));
            *invalid = *value == INT_MIN;
            return true;
        }
        case 212:
            if (m_phase == 0) {
                if ((b0 = m_in.Next()) < 0 || (b1 = m_in.Next()) < 0)
                    return false;
                *value = SignExtend(b0 | ((b1 & 0x0F) << 8), 12);
                m_held = b1;
                m_phase = 1;
            } else {
                if ((b2 = m_in.Next()) < 0)
                    return false;
                *value = SignExtend(b2 | ((m_held & 0xF0) << 4), 12);
                m_phase = 0;
            }
            *invalid = *value == -2048;
            return true;
        case 310:
        case 311:
            if (m_phase == 0) {
                if ((b0 = m_in.Next()) < 0 || (b1 = m_in.Next()) < 0 || (b2 = m_in.Next()) < 0 ||
                    (b3 = m_in.Next()) < 0)
                    return false;
                m_word = uint32_t(b0) | uint32_t(b1) << 8 | uint32_t(b2) << 16 | uint32_t(b3) << 24;
            }
            if (m_format == 311) {
                *value = SignExtend(int((m_word >> (10 * m_phase)) & 0x3FF), 10);
            } else {
                // Two 16-bit words: bits 1-10 of each, then their top five bits.
                const uint32_t lo = m_word & 0xFFFF, hi = m_word >> 16;
                const uint32_t v = m_phase == 0 ? (lo >> 1) & 0x3FF
                                 : m_phase == 1 ? (hi >> 1) & 0x3FF
                                                : ((lo >> 11) & 0x1F) | ((hi >> 6) & 0x3E0);
                *value = SignExtend(int(v), 10);
            }
            m_phase = (m_phase + 1) % 3;
            *invalid = *value == -512;
            return true;
        default:
            return false;
        }
    }

private:
    ByteSource& m_in;
    int m_format;
    int m_phase = 0;
    int m_held = 0;
    uint32_t m_word = 0;
};

}  // namespace

bool ParseWfdbHeader(const std::string& text, WfdbHeader* out)
{
    std::istringstream lines(text);
    std::string line;
    long long signals = -1;
    *out = WfdbHeader();
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        std::istringstream words(line);
        std::string w;
        if (signals < 0) {
            long long v = 0;
            if (!(words >> out->record) || out->record.find('/') != std::string::npos || !(words >> w) ||
                !ParseInt(w, &signals) || signals < 1 || signals > 4096)
                return false;
            if (words >> w) {
                out->frequency = std::strtod(w.c_str(), nullptr);
                if (!std::isfinite(out->frequency) || out->frequency <= 0)
                    return false;
            }
            if (words >> w) {
                if (!ParseInt(w, &v) || v < 0)
                    return false;
                out->frames = v;
            }
            if (words >> w) {
                out->hasTime = std::sscanf(w.c_str(), "%d:%d:%d", &out->hour, &out->minute, &out->second) == 3;
                if (words >> w)
                    out->hasDate = std::sscanf(w.c_str(), "%d/%d/%d", &out->day, &out->month, &out->year) == 3;
            }
            continue;
        }
        if (long(out->signals.size()) == signals)
            break;
        WfdbSignal s;
        bool hasBaseline = false;
        long long v = 0;
        if (!(words >> s.file) || !(words >> w) || !ParseFormatField(w, &s))
            return false;
        if (words >> w && !ParseGainField(w, &s, &hasBaseline))
            return false;
        if (words >> w && !ParseInt(w, &v))  // ADC resolution
            return false;
        if (words >> w) {
            if (!ParseInt(w, &v))
                return false;
            s.adcZero = int(v);
        }
        if (!hasBaseline)
            s.baseline = s.adcZero;
        s.initial = s.adcZero;
        if (words >> w) {
            if (!ParseInt(w, &v))
                return false;
            s.initial = int(v);
        }
        words >> w;  // checksum
        words >> w;  // block size
        std::getline(words, s.description);
        const size_t a = s.description.find_first_not_of(" \t");
        s.description = a == std::string::npos ? std::string() : s.description.substr(a);
        if (s.description.empty())
            s.description = "record " + out->record + ", signal " + std::to_string(out->signals.size());
        out->signals.push_back(s);
    }
    return long(out->signals.size()) == signals;
}

double WfdbMillivoltsPerUnit(const WfdbSignal& s)
{
    if (s.units == "mV" || s.units.empty())
        return 1;
    if (s.units == "uV" || s.units == "\xc2\xb5V")
        return 1e-3;
    if (s.units == "V")
        return 1e3;
    if (s.units == "nV")
        return 1e-6;
    return 0;
}

void ReadWfdbSignal(const std::string& folder, const WfdbHeader& header, size_t signal, const std::string& headerPath,
                    const std::function<void(uint64_t)>& start, const std::function<void(const double*, size_t)>& sink)
{
    const WfdbSignal& lead = header.signals.at(signal);
    if (!KnownFormat(lead.format) || lead.file == "~")
        throw CFileException(CFileException::formatUnsupported, -1, headerPath);
    // The signals sharing the lead's file, in frame order.
    size_t frameSamples = 0, leadAt = 0;
    double bitsPerFrame = 0;
    std::vector<int> owner;  // signal of each sample in a frame
    for (size_t k = 0; k < header.signals.size(); ++k) {
        const WfdbSignal& s = header.signals[k];
        if (s.file != lead.file)
            continue;
        if (s.format != lead.format)
            throw CFileException(CFileException::recordingDamaged, -1, headerPath);
        if (k == signal)
            leadAt = frameSamples;
        frameSamples += size_t(s.samplesPerFrame);
        bitsPerFrame += s.samplesPerFrame * BitsPerSample(s.format);
        owner.insert(owner.end(), size_t(s.samplesPerFrame), int(k));
    }
    const std::string path = lead.file[0] == '/' ? lead.file : folder + lead.file;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw CFileException(CFileException::fileNotFound, ENOENT, path);
    if (!S_ISREG(st.st_mode))
        throw CFileException(CFileException::accessDenied, EACCES, path);
    const int64_t dataBytes = int64_t(st.st_size) - lead.byteOffset;
    const int64_t held = dataBytes > 0 ? int64_t(std::floor(double(dataBytes) * 8 / bitsPerFrame + 1e-9)) : 0;
    const int64_t frames = header.frames > 0 ? header.frames : held;
    if (frames > held)
        throw CFileException(CFileException::recordingDamaged, -1, path);
    const uint64_t total = uint64_t(frames) * uint64_t(lead.samplesPerFrame);
    start(total);

    ByteSource bytes(path, lead.byteOffset);
    if (!bytes.Good())
        throw CFileException(CFileException::accessDenied, EACCES, path);
    SampleDecoder decoder(bytes, lead.format);
    std::vector<int> last(header.signals.size());
    for (size_t k = 0; k < header.signals.size(); ++k)
        last[k] = header.signals[k].initial;
    // A skewed signal's sample n is stored with frame n + skew: the first
    // ones are dropped and the last value held at the end.
    uint64_t drop = std::min<uint64_t>(total, uint64_t(lead.skew) * uint64_t(lead.samplesPerFrame));
    const uint64_t held_at_end = drop;
    std::vector<double> out;
    out.reserve(1 << 16);
    double previous = 0;
    for (int64_t f = 0; f < frames; ++f) {
        for (size_t i = 0; i < frameSamples; ++i) {
            int v = 0;
            bool invalid = false;
            if (!decoder.Next(&v, &invalid))
                throw CFileException(CFileException::recordingDamaged, -1, path);
            if (lead.format == 8) {
                v += last[size_t(owner[i])];
                last[size_t(owner[i])] = v;
            }
            if (i < leadAt || i >= leadAt + size_t(lead.samplesPerFrame))
                continue;
            if (!invalid)
                previous = (double(v) - lead.baseline) / lead.gain;
            if (drop > 0) {
                --drop;
                continue;
            }
            out.push_back(previous);
            if (out.size() == out.capacity()) {
                sink(out.data(), out.size());
                out.clear();
            }
        }
    }
    out.insert(out.end(), size_t(held_at_end), previous);
    if (!out.empty())
        sink(out.data(), out.size());
}

std::vector<double> ReadWfdbSignal(const std::string& folder, const WfdbHeader& header, size_t signal,
                                   const std::string& headerPath)
{
    std::vector<double> all;
    ReadWfdbSignal(
        folder, header, signal, headerPath, [&](uint64_t n) { all.reserve(size_t(std::min<uint64_t>(n, 1 << 24))); },
        [&](const double* p, size_t n) { all.insert(all.end(), p, p + n); });
    return all;
}

bool ParseMitAnnotations(const std::string& bytes, std::vector<WfdbAnnotation>* out)
{
    const auto word = [&](size_t at) {
        return unsigned(static_cast<unsigned char>(bytes[at])) | unsigned(static_cast<unsigned char>(bytes[at + 1])) << 8;
    };
    constexpr unsigned kSkip = 59, kNum = 60, kSub = 61, kChan = 62, kAux = 63;
    int64_t time = 0;
    size_t at = 0;
    out->clear();
    while (at + 2 <= bytes.size()) {
        const unsigned w = word(at);
        at += 2;
        const unsigned type = w >> 10, interval = w & 0x3FF;
        if (type == 0 && interval == 0)
            return true;
        if (type == kSkip) {
            if (at + 4 > bytes.size())
                return false;
            time += int32_t(uint32_t(word(at)) << 16 | word(at + 2));
            at += 4;
        } else if (type == kAux) {
            if (at + interval > bytes.size())
                return false;
            if (!out->empty())
                out->back().aux.assign(bytes, at, interval);
            at += interval + (interval & 1);
        } else if (type == kNum || type == kSub || type == kChan) {
            continue;
        } else {
            time += interval;
            out->push_back({time, int(type), {}});
        }
    }
    // A file without its end mark is accepted when it stops between annotations.
    return at == bytes.size();
}
