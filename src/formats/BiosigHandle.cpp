#include "formats/BiosigHandle.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <vector>

#include "recording/File.h"

namespace {

bool EndsWithNoCase(const std::string& s, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    if (s.size() < n)
        return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i])
            return false;
    return true;
}

// A WFDB header's first line that is not a comment starts with the record
// name (the file's own name without ".hea", a segment count may follow a
// slash) and the number of signals.
bool LooksLikeWfdbHeader(const std::string& path, const std::vector<unsigned char>& head)
{
    if (!EndsWithNoCase(path, ".hea"))
        return false;
    const std::string title = CFile::FileTitleOf(path);
    const std::string record = title.substr(0, title.size() - 4);
    size_t i = 0;
    while (i < head.size()) {
        size_t end = i;
        while (end < head.size() && head[end] != '\n')
            ++end;
        std::string line(head.begin() + long(i), head.begin() + long(end));
        i = end + 1;
        const size_t first = line.find_first_not_of(" \t\r");
        if (first == std::string::npos || line[first] == '#')
            continue;
        line = line.substr(first);
        const size_t nameEnd = line.find_first_of(" \t/");
        if (nameEnd == std::string::npos || line.substr(0, nameEnd) != record)
            return false;
        size_t p = line.find_first_of(" \t", nameEnd);
        if (p == std::string::npos)
            return false;
        p = line.find_first_not_of(" \t", p);
        return p != std::string::npos && std::isdigit(static_cast<unsigned char>(line[p]));
    }
    return false;
}

// The signal files a WFDB header names, each once, in the header's folder.

// ASCII number fields of an EDF/BDF header, as strict as the format.
bool AsciiInteger(const std::string& h, size_t at, size_t width, long long* out)
{
    const std::string f = h.substr(at, width);
    const size_t a = f.find_first_not_of(' ');
    if (a == std::string::npos)
        return false;
    const size_t b = f.find_last_not_of(' ');
    const std::string t = f.substr(a, b - a + 1);
    size_t i = t[0] == '-' || t[0] == '+' ? 1 : 0;
    if (i == t.size() || t.size() > 18)
        return false;
    for (; i < t.size(); ++i)
        if (t[i] < '0' || t[i] > '9')
            return false;
    *out = std::stoll(t);
    return true;
}

bool AsciiNumber(const std::string& h, size_t at, size_t width, double* out)
{
    const std::string f = h.substr(at, width);
    if (f.find_first_not_of(" +-.0123456789eE") != std::string::npos || f.find_first_not_of(' ') == std::string::npos)
        return false;
    char* end = nullptr;
    *out = std::strtod(f.c_str(), &end);
    return end != f.c_str() && std::isfinite(*out);
}

// BioSig trusts the header's fields: one that does not add up is refused
// before BioSig sees it.
bool EdfHeaderIsSound(const std::string& path, bool bdf)
{
    std::ifstream in(path, std::ios::binary);
    std::string h(256, '\0');
    if (!in.read(h.data(), 256))
        return false;
    long long headerBytes = 0, records = 0, signals = 0;
    double duration = 0;
    if (!AsciiInteger(h, 184, 8, &headerBytes) || !AsciiInteger(h, 236, 8, &records) ||
        !AsciiNumber(h, 244, 8, &duration) || !AsciiInteger(h, 252, 4, &signals))
        return false;
    if (signals < 1 || signals > 4096 || headerBytes != 256 * (signals + 1) || records < 1 || duration < 0)
        return false;
    h.resize(size_t(headerBytes));
    if (!in.read(h.data() + 256, headerBytes - 256))
        return false;
    const size_t ns = size_t(signals);
    const auto field = [ns](size_t before, size_t i) { return 256 + ns * before + i; };
    long long recordBytes = 0;
    for (size_t i = 0; i < ns; ++i) {
        double pmin = 0, pmax = 0;
        long long dmin = 0, dmax = 0, samples = 0;
        // label 16, transducer 80, dimension 8, then the numbers.
        if (!AsciiNumber(h, field(104, i * 8), 8, &pmin) || !AsciiNumber(h, field(112, i * 8), 8, &pmax) ||
            !AsciiInteger(h, field(120, i * 8), 8, &dmin) || !AsciiInteger(h, field(128, i * 8), 8, &dmax) ||
            !AsciiInteger(h, field(216, i * 8), 8, &samples))
            return false;
        if (dmin >= dmax || pmin == pmax || samples < 1 || samples > 10'000'000)
            return false;
        recordBytes += samples * (bdf ? 3 : 2);
    }
    in.seekg(0, std::ios::end);
    const long long size = in.tellg();
    return recordBytes > 0 && records <= (size - headerBytes) / recordBytes;
}

// GDF 1 and 2: the header length and signal count must fit the file.
bool GdfHeaderIsSound(const std::string& path, const std::vector<unsigned char>& head)
{
    if (head.size() < 256)
        return false;
    const auto u16 = [&](size_t at) { return unsigned(head[at] | (head[at + 1] << 8)); };
    const unsigned signals = u16(252);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || signals < 1 || signals > 4096)
        return false;
    uint64_t headerBytes = 0;
    if (head[4] == '1') {
        for (int k = 7; k >= 0; --k)
            headerBytes = (headerBytes << 8) | head[184 + size_t(k)];
    } else {
        headerBytes = uint64_t(u16(184)) * 256;
    }
    return headerBytes >= 256 * uint64_t(signals + 1) && headerBytes <= uint64_t(st.st_size);
}

// SCP-ECG: the record length at bytes 2-5 is the file's length, and every
// section that section 0 points to lies inside the file and starts with its
// own id and length.
bool ScpHeaderIsSound(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> r((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const auto u16 = [&](size_t at) { return uint32_t(r[at] | (r[at + 1] << 8)); };
    const auto u32 = [&](size_t at) { return u16(at) | (u16(at + 2) << 16); };
    if (r.size() < 22 + 6 || u32(2) != r.size())
        return false;
    const uint32_t section0 = u32(6 + 4);
    if (section0 < 16 || 6 + uint64_t(section0) > r.size())
        return false;
    for (size_t at = 6 + 16; at + 10 <= 6 + size_t(section0); at += 10) {
        const uint32_t id = u16(at), length = u32(at + 2), index = u32(at + 6);
        if (length == 0)
            continue;
        if (index < 1 || length < 16 || uint64_t(index) - 1 + length > r.size())
            return false;
        const size_t start = index - 1;
        if (u16(start + 2) != id || u32(start + 4) != length)
            return false;
    }
    return true;
}

// The onset of the first time-keeping annotation of a data record.
bool FirstOnset(const std::string& tal, double* out)
{
    if (tal.empty() || (tal[0] != '+' && tal[0] != '-'))
        return false;
    const size_t end = tal.find_first_of("\x14\x15");
    if (end == std::string::npos)
        return false;
    const std::string number = tal.substr(0, end);
    if (number.find_first_not_of("+-.0123456789", 1) != std::string::npos)
        return false;
    *out = std::strtod(number.c_str(), nullptr);
    return std::isfinite(*out);
}

}  // namespace

bool ReadEdfFacts(const std::string& path, bool bdf, EdfFacts* out)
{
    *out = EdfFacts();
    std::ifstream in(path, std::ios::binary);
    std::string h(256, '\0');
    long long headerBytes = 0, records = 0, signals = 0;
    if (!in.read(h.data(), 256) || !AsciiInteger(h, 184, 8, &headerBytes) || !AsciiInteger(h, 236, 8, &records) ||
        !AsciiNumber(h, 244, 8, &out->recordSeconds) || !AsciiInteger(h, 252, 4, &signals) || signals < 1 ||
        signals > 4096 || headerBytes != 256 * (signals + 1))
        return false;
    h.resize(size_t(headerBytes));
    if (!in.read(h.data() + 256, headerBytes - 256))
        return false;
    out->headerBytes = headerBytes;
    out->records = records;
    const std::string reserved = h.substr(192, 44);
    out->plus = reserved.rfind(bdf ? "BDF+" : "EDF+", 0) == 0;
    const size_t ns = size_t(signals);
    size_t annotation = ns;
    long long recordBytes = 0, annotationAt = 0;
    for (size_t i = 0; i < ns; ++i) {
        std::string label = h.substr(256 + 16 * i, 16);
        label.erase(label.find_last_not_of(' ') + 1);
        long long samples = 0;
        if (!AsciiInteger(h, 256 + ns * 216 + 8 * i, 8, &samples) || samples < 0)
            return false;
        out->labels.push_back(label);
        out->samplesPerRecord.push_back(samples);
        const bool isAnnotation = out->plus && label == (bdf ? "BDF Annotations" : "EDF Annotations");
        if (isAnnotation && annotation == ns) {
            annotation = i;
            annotationAt = recordBytes;
        }
        recordBytes += samples * (bdf ? 3 : 2);
    }
    out->annotationsOnly = out->plus && std::all_of(out->labels.begin(), out->labels.end(), [bdf](const std::string& l) {
        return l == (bdf ? "BDF Annotations" : "EDF Annotations");
    });

    int dd = 0, mm = 0, yy = 0;
    const bool clock = std::sscanf(h.substr(176, 8).c_str(), "%2d.%2d.%2d", &out->hour, &out->minute, &out->second) == 3;
    const bool date = std::sscanf(h.substr(168, 8).c_str(), "%2d.%2d.%2d", &dd, &mm, &yy) == 3;
    out->startKnown = clock && date;
    if (date) {
        out->day = dd;
        out->month = mm;
        out->year = yy < 85 ? 2000 + yy : 1900 + yy;
    }
    if (out->plus) {
        // The recording field's date has all four digits, or says "X".
        std::istringstream words(h.substr(88, 80));
        std::string word, when;
        words >> word >> when;
        char month[4] = {};
        int d = 0, y = 0;
        static const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                              "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
        if (word == "Startdate" && when == "X") {
            out->startKnown = false;
        } else if (word == "Startdate" && std::sscanf(when.c_str(), "%2d-%3c-%4d", &d, month, &y) == 3) {
            for (int m = 0; m < 12; ++m) {
                if (std::strncmp(month, kMonths[m], 3) == 0) {
                    out->day = d;
                    out->month = m + 1;
                    out->year = y;
                    out->startKnown = clock;
                }
            }
        }
    }

    if (out->plus && reserved.rfind(bdf ? "BDF+D" : "EDF+D", 0) == 0 && annotation < ns && recordBytes > 0) {
        const size_t talBytes = size_t(out->samplesPerRecord[annotation] * (bdf ? 3 : 2));
        std::string tal(std::min<size_t>(talBytes, 64), '\0');
        double first = 0;
        for (long long r = 0; r < records; ++r) {
            in.seekg(headerBytes + r * recordBytes + annotationAt);
            double onset = 0;
            if (!in.read(tal.data(), std::streamsize(tal.size())) || !FirstOnset(tal, &onset))
                return false;
            if (r == 0)
                first = onset;
            else if (std::fabs(onset - first - double(r) * out->recordSeconds) > 1e-3)
                out->gaps = true;
        }
    }
    return true;
}

namespace {

std::vector<unsigned char> Head(const std::string& path, size_t n)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> head(n);
    in.read(reinterpret_cast<char*>(head.data()), std::streamsize(n));
    head.resize(size_t(in.gcount()));
    return head;
}


}  // namespace

bool StandardHeaderIsSound(const std::string& path, SignatureKind kind)
{
    switch (kind) {
    case SignatureKind::edf: return EdfHeaderIsSound(path, false);
    case SignatureKind::bdf: return EdfHeaderIsSound(path, true);
    case SignatureKind::gdf: return GdfHeaderIsSound(path, Head(path, 256));
    case SignatureKind::scp: return ScpHeaderIsSound(path);
    default: return true;
    }
}

std::vector<std::string> WfdbSignalFiles(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    long signals = -1;
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::vector<std::string> files;
    for (int lines = 0; std::getline(in, line) && lines < 4096; ++lines) {
        std::istringstream words(line);
        std::string first;
        if (!(words >> first) || first[0] == '#')
            continue;
        if (signals < 0) {
            if (first.find('/') != std::string::npos || !(words >> signals) || signals <= 0)
                return {};  // multi-segment records name segments, not files
            continue;
        }
        const std::string file = first[0] == '/' ? first : folder + first;
        if (first != "~" && std::find(files.begin(), files.end(), file) == files.end())
            files.push_back(file);
        if (--signals == 0)
            break;
    }
    return files;
}

Sniffed SniffStandardFile(const std::string& path)
{
    Sniffed out;
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::typeBinary | CFile::shareDenyNone))
        return out;
    std::vector<unsigned char> head(4096);
    try {
        head.resize(file.Read(head.data(), uint32_t(head.size())));
    } catch (const CFileException&) {
        return out;
    }
    const auto at = [&](size_t offset, const char* text, size_t n) {
        return head.size() >= offset + n && std::memcmp(head.data() + offset, text, n) == 0;
    };
    // A cut header still carries the signature: it is a damaged file, not samples.
    if (at(0, "0       ", 8)) {
        out.kind = SignatureKind::edf;
    } else if (at(0, "\xff" "BIOSEMI", 8)) {
        out.kind = SignatureKind::bdf;
    } else if (at(0, "GDF ", 4) && head.size() >= 256 && head[4] >= '1' && head[4] <= '3' && head[5] == '.') {
        out.kind = SignatureKind::gdf;
    } else if (at(16, "SCPECG", 6) && head[8] == 0 && head[9] == 0) {
        out.kind = SignatureKind::scp;
    } else if (LooksLikeWfdbHeader(path, head)) {
        out.kind = SignatureKind::mit;
    } else {
        const std::string text(head.begin(), head.end());
        const size_t lt = text.find_first_not_of(" \t\r\n\xef\xbb\xbf");
        if (lt != std::string::npos && text[lt] == '<' && text.find("<AnnotatedECG") != std::string::npos)
            out.kind = SignatureKind::hl7;
    }
    if ((out.kind == SignatureKind::edf || out.kind == SignatureKind::bdf) && head.size() >= 252)
        out.durationField.assign(head.begin() + 244, head.begin() + 252);
    return out;
}
