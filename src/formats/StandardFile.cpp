#include "formats/StandardFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#include <soxr.h>

#include "formats/BiosigHandle.h"
#include "formats/ChildSandbox.h"

namespace {

// Longer recordings would not fit in memory as one lead (about 12 days).
constexpr uint64_t kMaxOutputSamples = uint64_t(1) << 28;
constexpr size_t kSliceSamples = size_t(1) << 16;

std::string Trimmed(const char* text)
{
    std::string s(text ? text : "");
    const size_t a = s.find_first_not_of(" \t\r\n");
    const size_t b = s.find_last_not_of(" \t\r\n");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::string Upper(std::string s)
{
    for (char& c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

bool IsVoltage(uint16_t code)
{
    // Unit code 0 is "unspecified", as WFDB leaves millivolts to be assumed.
    return code == 0 || (code & 0xFFE0) == 4256;
}

double MillivoltsPerUnit(uint16_t code)
{
    return code == 0 ? 1.0 : PhysDimScale(code) * 1000.0;
}

// An EDF/BDF record duration is only as exact as its 8-character field: a
// whole-number rate whose duration rounds to the same text is the file's rate.
double NominalRate(double rate, uint32_t samplesPerRecord, SignatureKind kind, const std::string& durationField)
{
    const double whole = std::round(rate);
    if (whole < 1)
        return rate;
    if ((kind == SignatureKind::edf || kind == SignatureKind::bdf) && samplesPerRecord > 0) {
        const std::string d = Trimmed(durationField.c_str());
        const size_t dot = d.find('.');
        const int decimals = dot == std::string::npos ? 0 : int(d.size() - dot - 1);
        const double duration = std::strtod(d.c_str(), nullptr);
        const double halfUnit = 0.5 * std::pow(10.0, -decimals);
        if (duration > 0 && std::fabs(samplesPerRecord / whole - duration) <= halfUnit * (1 + 1e-9))
            return whole;
        return rate;
    }
    return std::fabs(rate - whole) <= whole * 1e-6 ? whole : rate;
}

int16_t ToUnits(double millivolts)
{
    if (!std::isfinite(millivolts))
        return 0;
    const double u = std::round(millivolts * ECG_UNITS_PER_MV);
    return int16_t(std::clamp(u, -32768.0, 32767.0));
}

int ChooseLead(const HDRTYPE* hdr, const std::string& wanted, const std::string& path)
{
    const auto usable = [hdr](int k) {
        return hdr->CHANNEL[k].OnOff == 1 && IsVoltage(hdr->CHANNEL[k].PhysDimCode) && hdr->CHANNEL[k].SPR > 0;
    };
    if (!wanted.empty()) {
        char* end = nullptr;
        const long number = std::strtol(wanted.c_str(), &end, 10);
        for (int k = 0; k < hdr->NS; ++k) {
            const bool named = *end == '\0' ? number == k + 1
                                            : Upper(Trimmed(hdr->CHANNEL[k].Label)) == Upper(Trimmed(wanted.c_str()));
            if (named && usable(k))
                return k;
        }
        throw CFileException(CFileException::leadNotFound, -1, path);
    }
    int best = -1, bestRank = 1 << 30, first = -1;
    for (int k = 0; k < hdr->NS; ++k) {
        if (!usable(k))
            continue;
        if (first < 0)
            first = k;
        const int rank = EcgLeadRank(hdr->CHANNEL[k].Label);
        if (rank >= 0 && rank < bestRank) {
            best = k;
            bestRank = rank;
        }
    }
    if (best < 0)
        best = first;
    if (best < 0)
        throw CFileException(CFileException::leadNotFound, -1, path);
    return best;
}

bool StartTimeOf(const HDRTYPE* hdr, CTime* out)
{
    if (hdr->T0 == 0)
        return false;
    const double seconds = std::floor(gdf_time2t_time(hdr->T0) + 0.5);
    if (!std::isfinite(seconds) || std::fabs(seconds) > 1e13)
        return false;
    const time_t t = time_t(seconds);
    struct tm f {};
    if (!gmtime_r(&t, &f) || f.tm_year + 1900 < 1971)
        return false;
    // The header's clock fields are the recording's local time.
    try {
        *out = CTime(f.tm_year + 1900, f.tm_mon + 1, f.tm_mday, f.tm_hour, f.tm_min, f.tm_sec);
    } catch (const CTimeException&) {
        return false;
    }
    return true;
}

// What decoding needs of the header.
struct LeadLayout {
    int lead = 0;
    int64_t records = 0;
    uint32_t recordSamples = 0;  // all channels brought to the fastest rate
    uint32_t leadSamples = 0;    // the lead's own samples per record
    double millivolts = 1;
};

// Decodes the lead, resamples it to 250/s and writes it to out. BioSig 3.0.1
// garbles or crashes on reads that do not start at record 0 of a freshly
// opened EDF+ file, so the lead is read in one piece.
void DecodeLead(HDRTYPE* hdr, const std::string& path, const LeadLayout& layout, double rate, CResultWriter& out)
{
    const uint32_t step = layout.recordSamples / layout.leadSamples;
    const uint64_t total = uint64_t(layout.records) * layout.leadSamples;
    const double expected = double(total) * ECG_SAMPLE_RATE / rate;
    if (expected > double(kMaxOutputSamples))
        throw CFileException(CFileException::recordingTooLarge, -1, path);
    uint64_t written = 0;
    std::vector<int16_t> units;

    const bool resample = rate != ECG_SAMPLE_RATE;
    soxr_t resampler = nullptr;
    if (resample) {
        soxr_error_t error = nullptr;
        const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
        const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
        resampler = soxr_create(rate, ECG_SAMPLE_RATE, 1, &error, &io, &quality, nullptr);
        if (!resampler || error)
            throw CFileException(CFileException::formatUnsupported, -1, path);
    }
    struct Closer {
        soxr_t s;
        ~Closer() { if (s) soxr_delete(s); }
    } closer{resampler};

    std::vector<double> native, resampled;
    const auto emit = [&](const double* p, size_t n) {
        units.resize(n);
        for (size_t i = 0; i < n; ++i)
            units[i] = ToUnits(p[i]);
        written += n;
        if (written > kMaxOutputSamples)
            throw CFileException(CFileException::recordingTooLarge, -1, path);
        out.Bytes(units.data(), n * sizeof(int16_t));
    };
    const auto push = [&](const double* p, size_t n) {
        if (!resample) {
            emit(p, n);
            return;
        }
        resampled.resize(size_t(double(n) * ECG_SAMPLE_RATE / rate) + 64);
        size_t used = 0, done = 0;
        do {
            size_t idone = 0, odone = 0;
            if (soxr_process(resampler, p ? p + used : nullptr, p ? n - used : 0, &idone, resampled.data(),
                             resampled.size(), &odone))
                throw CFileException(CFileException::recordingDamaged, -1, path);
            used += idone;
            done = odone;
            emit(resampled.data(), odone);
        } while (p ? used < n : done > 0);
    };

    for (int k = 0; k < hdr->NS; ++k)
        hdr->CHANNEL[k].OnOff = k == layout.lead ? 1 : 0;
    hdr->FLAG.UCAL = 0;
    hdr->FLAG.OVERFLOWDETECTION = 0;
    hdr->FLAG.ROW_BASED_CHANNELS = 0;
    const size_t records = size_t(layout.records);
    const size_t got = sread(nullptr, 0, records, hdr);
    if (got != records || biosig_check_error(hdr) || !hdr->data.block ||
        uint64_t(hdr->data.size[0]) * hdr->data.size[1] < uint64_t(records) * layout.recordSamples)
        throw CFileException(CFileException::recordingDamaged, -1, path);
    // BioSig's copy of the file's bytes is done with: its memory goes back
    // now (destructHDR frees only what is left).
    std::free(hdr->AS.rawdata);
    hdr->AS.rawdata = nullptr;
    // In slices, so that the copy stays small next to BioSig's buffer.
    const size_t count = records * layout.leadSamples;
    for (size_t from = 0; from < count; from += kSliceSamples) {
        native.resize(std::min(kSliceSamples, count - from));
        for (size_t i = 0; i < native.size(); ++i)
            native[i] = hdr->data.block[(from + i) * step] * layout.millivolts;
        push(native.data(), native.size());
    }
    if (resample)
        push(nullptr, 0);
}

}  // namespace

CStandardFile::CStandardFile(const std::string& path, std::shared_ptr<const StandardRecording> recording)
    : CEcgFile(path, NoOpen{}), m_recording(std::move(recording))
{
}

uint32_t CStandardFile::ReadSamples(int16_t* buffer, uint64_t first, uint32_t count)
{
    const std::vector<int16_t>& s = m_recording->samples;
    if (first >= s.size())
        return 0;
    const uint32_t n = uint32_t(std::min<uint64_t>(count, s.size() - first));
    std::memcpy(buffer, s.data() + first, size_t(n) * sizeof(int16_t));
    return n;
}

bool CStandardFile::GetStartTime(CTime* out)
{
    if (!m_recording->hasStartTime)
        return false;
    *out = m_recording->startTime;
    return true;
}

std::unique_ptr<CEcgFile> CStandardFile::OpenReader()
{
    return std::make_unique<CStandardFile>(GetFilePath(), m_recording);
}

int EcgLeadRank(const std::string& label)
{
    std::string s = Upper(Trimmed(label.c_str()));
    // "ECG II", "EKG-V1", "ECG" alone: the prefix says ECG, the rest names the lead.
    bool ecgPrefix = false;
    for (const char* prefix : {"ECG", "EKG"}) {
        if (s.rfind(prefix, 0) == 0) {
            s = s.substr(3);
            ecgPrefix = true;
            break;
        }
    }
    s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == ' ' || c == '-' || c == '_' || c == ':'; }),
            s.end());
    static const char* const kOrder[] = {"II", "MLII", "", "I", "V1", "V2", "V3", "V4", "V5", "V6",
                                         "III", "AVR", "AVL", "AVF", "MLI", "MLIII", "V"};
    for (size_t i = 0; i < std::size(kOrder); ++i) {
        if (s == kOrder[i] && (ecgPrefix || *kOrder[i]))
            return int(i);
    }
    return -1;
}

namespace {

// Seconds a decode may take before the file is given up as damaged; a day
// at 360 samples/s takes about one.
constexpr int kDecodeSeconds = 60;

void WriteRecording(CResultWriter& w, const StandardRecording& r)
{
    w.Value(int32_t(0));
    w.String(r.format);
    w.String(r.leadLabel);
    w.Value(int32_t(r.leadNumber));
    w.Value(uint32_t(r.channelLabels.size()));
    for (const std::string& label : r.channelLabels)
        w.String(label);
    w.Value(r.sourceRate);
    w.Value(uint8_t(r.hasStartTime));
    w.Value(r.startTime.GetTime());
}

// The description from info, the samples from the in-memory file.
bool ReadRecording(CResultReader& in, int samples, StandardRecording* r)
{
    int32_t number = 0;
    uint32_t labels = 0;
    uint8_t hasStart = 0;
    int64_t start = 0;
    if (!in.String(&r->format) || !in.String(&r->leadLabel) || !in.Value(&number) || !in.Value(&labels))
        return false;
    for (uint32_t i = 0; i < labels; ++i) {
        r->channelLabels.emplace_back();
        if (!in.String(&r->channelLabels.back()))
            return false;
    }
    if (!in.Value(&r->sourceRate) || !in.Value(&hasStart) || !in.Value(&start) || in.Left() != 0)
        return false;
    r->leadNumber = number;
    r->hasStartTime = hasStart != 0;
    r->startTime = CTime(start);
    struct stat st {};
    if (::fstat(samples, &st) != 0 || st.st_size % 2 != 0)
        return false;
    r->samples.resize(size_t(st.st_size) / 2);
    auto* bytes = reinterpret_cast<char*>(r->samples.data());
    for (size_t done = 0, want = size_t(st.st_size); done < want;) {
        const ssize_t n = ::read(samples, bytes + done, want - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// Decodes in the child: what is known of the recording goes to info, then
// the samples to data.
void Decode(const std::string& path, SignatureKind kind, const std::string& durationField,
            const StandardOpenOptions& options, CResultWriter& info, CResultWriter& data)
{
    auto rec = std::make_shared<StandardRecording>();
    BiosigHandle handle(path);
    HDRTYPE* hdr = handle.get();
    rec->format = GetFileTypeString(hdr->TYPE) ? GetFileTypeString(hdr->TYPE) : "";
    if (hdr->NS < 1 || hdr->NRec < 1 || hdr->SPR < 1 || !std::isfinite(hdr->SampleRate) || hdr->SampleRate <= 0 ||
        hdr->SampleRate > 1e6)
        throw CFileException(CFileException::recordingDamaged, -1, path);
    for (int k = 0; k < hdr->NS; ++k)
        rec->channelLabels.push_back(Trimmed(hdr->CHANNEL[k].Label));
    const int lead = ChooseLead(hdr, options.lead, path);
    const CHANNEL_TYPE& ch = hdr->CHANNEL[lead];
    if (ch.SPR == 0 || hdr->SPR % ch.SPR != 0)
        throw CFileException(CFileException::recordingDamaged, -1, path);
    const double rate = NominalRate(hdr->SampleRate * ch.SPR / hdr->SPR, ch.SPR, kind, durationField);
    if (!(rate >= 1))
        throw CFileException(CFileException::formatUnsupported, -1, path);
    // BioSig 3.0.1 misreads GDF samples packed in bit fields (12-bit
    // samples, as its own converter writes them from WFDB format 212).
    if (kind == SignatureKind::gdf && ch.GDFTYP > 255 && (ch.GDFTYP - 255) % 8 != 0)
        throw CFileException(CFileException::formatUnsupported, -1, path);
    const LeadLayout layout{lead, hdr->NRec, hdr->SPR, ch.SPR, MillivoltsPerUnit(ch.PhysDimCode)};
    rec->leadNumber = lead + 1;
    rec->leadLabel = Trimmed(ch.Label);
    rec->sourceRate = rate;
    rec->hasStartTime = StartTimeOf(hdr, &rec->startTime);
    DecodeLead(hdr, path, layout, rate, data);
    data.Flush();
    WriteRecording(info, *rec);
}

}  // namespace

std::unique_ptr<CStandardFile> OpenStandardRecording(const std::string& path, const StandardOpenOptions& options,
                                                     CTime* pTimeStart)
{
    const Sniffed sniffed = SniffStandardFile(path);
    if (sniffed.kind == SignatureKind::none)
        return nullptr;

    std::string result;
    int samples = -1;
    const SandboxOutcome outcome = RunInChildSandbox(
        DecoderInputs(path), [&](CResultWriter& info, CResultWriter& data) {
            try {
                Decode(path, sniffed.kind, sniffed.durationField, options, info, data);
            } catch (const CFileException& e) {
                WriteFileError(info, e);
            }
        },
        kDecodeSeconds, &result, &samples);
    struct Closer {
        int fd;
        ~Closer() { if (fd >= 0) ::close(fd); }
    } closeSamples{samples};
    CResultReader in(result);
    int32_t tag = -1;
    if (outcome != SandboxOutcome::done || !in.Value(&tag))
        throw CFileException(CFileException::recordingDamaged, -1, path);
    if (tag != 0)
        RaiseFileError(in, path);
    auto rec = std::make_shared<StandardRecording>();
    if (!ReadRecording(in, samples, rec.get()))
        throw CFileException(CFileException::recordingDamaged, -1, path);

    if (pTimeStart && rec->hasStartTime)
        *pTimeStart = rec->startTime;
    return std::make_unique<CStandardFile>(path, std::move(rec));
}

void RegisterStandardFormats(const StandardOpenOptions& options)
{
    SetStandardFormatOpener([options](const std::string& path, CTime* pTimeStart) -> std::unique_ptr<CEcgFile> {
        return OpenStandardRecording(path, options, pTimeStart);
    });
}

std::vector<std::string> CompanionFiles(const std::string& path)
{
    if (SniffStandardFile(path).kind != SignatureKind::mit)
        return {};
    const std::string stem = path.substr(0, path.size() - 4);
    return {stem + ".dat", stem + ".atr"};
}
