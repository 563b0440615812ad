#include "formats/StandardFile.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include <soxr.h>

#include "formats/BiosigHandle.h"
#include "formats/ChildSandbox.h"
#include "formats/DecoderJobs.h"
#include "formats/LeadWriter.h"
#include "formats/WfdbRecord.h"

namespace {

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

struct Channel {
    std::string label;
    bool usable = false;  // a voltage with samples
};

int ChooseLead(const std::vector<Channel>& channels, const std::string& wanted, const std::string& path)
{
    if (!wanted.empty()) {
        char* end = nullptr;
        const long number = std::strtol(wanted.c_str(), &end, 10);
        for (size_t k = 0; k < channels.size(); ++k) {
            const bool named = *end == '\0' ? number == long(k) + 1
                                            : Upper(Trimmed(channels[k].label.c_str())) == Upper(Trimmed(wanted.c_str()));
            if (named && channels[k].usable)
                return int(k);
        }
        throw CFileException(CFileException::leadNotFound, -1, path);
    }
    int best = -1, bestRank = 1 << 30, first = -1;
    for (size_t k = 0; k < channels.size(); ++k) {
        if (!channels[k].usable)
            continue;
        if (first < 0)
            first = int(k);
        const int rank = EcgLeadRank(channels[k].label);
        if (rank >= 0 && rank < bestRank) {
            best = int(k);
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

// Decodes the lead through BioSig. BioSig 3.0.1 garbles or crashes on reads
// that do not start at record 0 of a freshly opened EDF+ file, so the lead
// is read in one piece.
uint64_t DecodeLead(HDRTYPE* hdr, const std::string& path, const LeadLayout& layout, double rate, const LeadSink& out)
{
    const uint32_t step = layout.recordSamples / layout.leadSamples;
    LeadWriter writer(rate, uint64_t(layout.records) * layout.leadSamples, path, out);
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
    std::vector<double> native;
    for (size_t from = 0; from < count; from += kSliceSamples) {
        native.resize(std::min(kSliceSamples, count - from));
        for (size_t i = 0; i < native.size(); ++i)
            native[i] = hdr->data.block[(from + i) * step] * layout.millivolts;
        writer.Push(native.data(), native.size());
    }
    writer.Finish();
    return writer.Written();
}

}  // namespace

CStandardFile::CStandardFile(const std::string& path, std::shared_ptr<const StandardRecording> recording,
                             bool forDetector)
    : CEcgFile(path, NoOpen{}), m_recording(std::move(recording)), m_forDetector(forDetector)
{
    IndexLeads();
}

void CStandardFile::IndexLeads()
{
    const auto& others = m_recording->otherLeads;
    std::vector<std::pair<int, int>> byNumber = {{m_recording->leadNumber, -1}};
    for (size_t i = 0; i < others.size(); ++i)
        byNumber.emplace_back(others[i].number, int(i));
    std::stable_sort(byNumber.begin(), byNumber.end());
    m_leads.clear();
    for (size_t i = 0; i < byNumber.size(); ++i) {
        m_leads.push_back(byNumber[i].second);
        if (byNumber[i].second < 0)
            m_nAnalysed = int(i);
    }
}

std::string CStandardFile::GetLeadName(int lead) const
{
    if (lead < 0 || lead >= int(m_leads.size()))
        return std::string();
    const int other = m_leads[size_t(lead)];
    return other < 0 ? m_recording->leadLabel : m_recording->otherLeads[size_t(other)].label;
}

uint32_t CStandardFile::ReadLeadSamples(int lead, int16_t* buffer, uint64_t first, uint32_t count)
{
    if (lead < 0 || lead >= int(m_leads.size()))
        return 0;
    const int other = m_leads[size_t(lead)];
    if (other < 0)
        return ReadSamples(buffer, first, count);
    const std::vector<int16_t>& s = m_recording->otherLeads[size_t(other)].samples;
    if (first >= s.size())
        return 0;
    const uint32_t n = uint32_t(std::min<uint64_t>(count, s.size() - first));
    std::memcpy(buffer, s.data() + first, size_t(n) * sizeof(int16_t));
    return n;
}

std::unique_ptr<CEcgFile> CStandardFile::WithAnalysedLead(int lead)
{
    if (lead < 0 || lead >= int(m_leads.size()) || lead == m_nAnalysed)
        return nullptr;
    const StandardRecording& from = *m_recording;
    const auto& chosen = from.otherLeads[size_t(m_leads[size_t(lead)])];
    auto rec = std::make_shared<StandardRecording>();
    rec->format = from.format;
    rec->channelLabels = from.channelLabels;
    rec->sourceRate = from.sourceRate;
    rec->hasStartTime = from.hasStartTime;
    rec->startTime = from.startTime;
    rec->leadLabel = chosen.label;
    rec->leadNumber = chosen.number;
    rec->samples = chosen.samples;
    rec->detectorSamples = WithoutBaseline(rec->samples);
    for (const auto& other : from.otherLeads)
        if (&other != &chosen)
            rec->otherLeads.push_back(other);
    rec->otherLeads.push_back({from.leadLabel, from.leadNumber, from.samples});
    return std::make_unique<CStandardFile>(GetFilePath(), std::move(rec));
}

const std::vector<int16_t>& CStandardFile::Samples() const
{
    const bool filtered = m_forDetector && m_recording->detectorSamples.size() == m_recording->samples.size();
    return filtered ? m_recording->detectorSamples : m_recording->samples;
}

uint32_t CStandardFile::ReadSamples(int16_t* buffer, uint64_t first, uint32_t count)
{
    const std::vector<int16_t>& s = Samples();
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
    return std::make_unique<CStandardFile>(GetFilePath(), m_recording, true);
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
    // Any other signal that calls itself an ECG ("ECG ECG1", "EKG2") still
    // goes before one that does not.
    const std::string whole = Upper(label);
    if (ecgPrefix || whole.find("ECG") != std::string::npos || whole.find("EKG") != std::string::npos)
        return int(std::size(kOrder));
    return -1;
}

namespace {

// Seconds a decode may take before the file is given up as damaged; a day
// at 360 samples/s takes about one.
constexpr int kDecodeSeconds = 60;

// counts: the analysed lead's samples, then each other lead's.
void WriteRecording(CResultWriter& w, const StandardRecording& r, const std::vector<uint64_t>& counts)
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
    w.Value(uint32_t(r.otherLeads.size()));
    for (size_t i = 0; i < r.otherLeads.size(); ++i) {
        w.String(r.otherLeads[i].label);
        w.Value(int32_t(r.otherLeads[i].number));
    }
    w.Value(uint32_t(counts.size()));
    for (uint64_t n : counts)
        w.Value(n);
}

bool ReadAll(int fd, void* p, size_t want)
{
    auto* bytes = static_cast<char*>(p);
    for (size_t done = 0; done < want;) {
        const ssize_t n = ::read(fd, bytes + done, want - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
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
    uint32_t others = 0, nCounts = 0;
    if (!in.Value(&r->sourceRate) || !in.Value(&hasStart) || !in.Value(&start) || !in.Value(&others))
        return false;
    for (uint32_t i = 0; i < others; ++i) {
        StandardRecording::OtherLead lead;
        int32_t n = 0;
        if (!in.String(&lead.label) || !in.Value(&n))
            return false;
        lead.number = n;
        r->otherLeads.push_back(std::move(lead));
    }
    if (!in.Value(&nCounts) || nCounts != others + 1)
        return false;
    std::vector<uint64_t> counts(nCounts);
    for (uint64_t& n : counts)
        if (!in.Value(&n))
            return false;
    if (in.Left() != 0)
        return false;
    r->leadNumber = number;
    r->hasStartTime = hasStart != 0;
    r->startTime = CTime(start);
    struct stat st {};
    uint64_t total = 0;
    for (uint64_t n : counts) {
        if (n > STANDARD_MAX_SAMPLES)
            return false;
        total += n;
    }
    if (::fstat(samples, &st) != 0 || uint64_t(st.st_size) != total * 2)
        return false;
    r->samples.resize(size_t(counts[0]));
    if (!ReadAll(samples, r->samples.data(), r->samples.size() * sizeof(int16_t)))
        return false;
    for (uint32_t i = 0; i < others; ++i) {
        std::vector<int16_t>& v = r->otherLeads[i].samples;
        v.resize(size_t(counts[i + 1]));
        if (!ReadAll(samples, v.data(), v.size() * sizeof(int16_t)))
            return false;
    }
    return true;
}

bool CivilTime(int year, int month, int day, int hour, int minute, int second, CTime* out)
{
    if (year < 1971)
        return false;
    try {
        *out = CTime(year, month, day, hour, minute, second);
    } catch (const CTimeException&) {
        return false;
    }
    return true;
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ReadText(const std::string& path, size_t limit)
{
    std::ifstream in(path, std::ios::binary);
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size >= 0)
        limit = std::min(limit, size_t(st.st_size));
    std::string text(limit, '\0');
    in.read(text.data(), std::streamsize(limit));
    text.resize(size_t(in.gcount()));
    return text;
}

// One signal of an EDF/BDF file read straight from its data records. BioSig
// brings every signal to the least common multiple of their rates, which for
// signals of unrelated rates is millions of samples a second.
uint64_t DecodeEdfLead(const std::string& path, const EdfFacts& facts, bool bdf, int lead, double perDigit,
                       double offset, double rate, const LeadSink& data)
{
    const int width = bdf ? 3 : 2;
    long long recordBytes = 0, at = 0;
    for (size_t i = 0; i < facts.samplesPerRecord.size(); ++i) {
        if (int(i) == lead)
            at = recordBytes;
        recordBytes += facts.samplesPerRecord[i] * width;
    }
    const size_t spr = size_t(facts.samplesPerRecord[size_t(lead)]);
    LeadWriter writer(rate, uint64_t(facts.records) * spr, path, data);
    std::ifstream in(path, std::ios::binary);
    std::string bytes(spr * size_t(width), '\0');
    std::vector<double> values(spr);
    for (long long r = 0; r < facts.records; ++r) {
        in.seekg(facts.headerBytes + r * recordBytes + at);
        if (!in.read(bytes.data(), std::streamsize(bytes.size())))
            throw CFileException(CFileException::recordingDamaged, -1, path);
        for (size_t i = 0; i < spr; ++i) {
            const auto* b = reinterpret_cast<const unsigned char*>(bytes.data()) + i * size_t(width);
            const int32_t d = bdf ? int32_t(uint32_t(b[0]) << 8 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 24) >> 8
                                  : int16_t(uint16_t(b[0] | b[1] << 8));
            values[i] = d * perDigit + offset;
        }
        writer.Push(values.data(), values.size());
    }
    writer.Finish();
    return writer.Written();
}

// WFDB records are read here, not by BioSig, which takes the baseline in
// the gain field, several signals in one 16-bit file, formats 24, 310 and
// 311 and signals spread over several files wrongly or not at all.
// Other leads are decoded while the decode is this young: a recording of
// many leads opens with fewer rather than not at all.
constexpr int kOtherLeadSeconds = 20;

// The other ECG leads, each into memory first so that one that fails
// leaves nothing behind; decode(k, sink) decodes channel k.
void DecodeOtherLeads(const std::vector<Channel>& channels, int lead, StandardRecording* rec,
                      std::vector<uint64_t>* counts, CResultWriter& data,
                      const std::function<uint64_t(int, const LeadSink&)>& decode)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(kOtherLeadSeconds);
    for (size_t k = 0; k < channels.size() && rec->otherLeads.size() < STANDARD_MAX_OTHER_LEADS; ++k) {
        if (int(k) == lead || !channels[k].usable || EcgLeadRank(channels[k].label) < 0)
            continue;
        if (std::chrono::steady_clock::now() > until)
            break;
        std::vector<int16_t> samples;
        try {
            decode(int(k), [&](const int16_t* p, size_t n) { samples.insert(samples.end(), p, p + n); });
        } catch (const std::exception&) {
            continue;
        }
        data.Bytes(samples.data(), samples.size() * sizeof(int16_t));
        counts->push_back(samples.size());
        rec->otherLeads.push_back({Trimmed(channels[k].label.c_str()), int(k) + 1, {}});
    }
}

uint64_t DecodeWfdbSignal(const std::string& path, const WfdbHeader& header, size_t signal, const LeadSink& out)
{
    const WfdbSignal& s = header.signals[signal];
    const double raw = header.frequency * s.samplesPerFrame;
    const double rate = std::fabs(raw - std::round(raw)) <= raw * 1e-9 ? std::round(raw) : raw;
    const double mv = WfdbMillivoltsPerUnit(s);
    std::unique_ptr<LeadWriter> writer;
    std::vector<double> slice;
    ReadWfdbSignal(
        FolderOf(path), header, signal, path,
        [&](uint64_t count) { writer = std::make_unique<LeadWriter>(rate, count, path, out); },
        [&](const double* p, size_t n) {
            slice.assign(p, p + n);
            for (double& v : slice)
                v *= mv;
            writer->Push(slice.data(), slice.size());
        });
    writer->Finish();
    return writer->Written();
}

void DecodeWfdb(const std::string& path, const StandardOpenOptions& options, StandardRecording* rec,
                std::vector<uint64_t>* counts, CResultWriter& data)
{
    WfdbHeader header;
    if (!ParseWfdbHeader(ReadText(path, 1 << 20), &header))
        throw CFileException(CFileException::formatUnsupported, -1, path);
    rec->format = "MIT";
    std::vector<Channel> channels;
    for (const WfdbSignal& s : header.signals) {
        rec->channelLabels.push_back(s.description);
        channels.push_back({s.description, WfdbMillivoltsPerUnit(s) > 0 && s.file != "~"});
    }
    const int lead = ChooseLead(channels, options.lead, path);
    const WfdbSignal& s = header.signals[size_t(lead)];
    const double rate = header.frequency * s.samplesPerFrame;
    rec->leadNumber = lead + 1;
    rec->leadLabel = s.description;
    rec->sourceRate = std::fabs(rate - std::round(rate)) <= rate * 1e-9 ? std::round(rate) : rate;
    rec->hasStartTime = header.hasTime && header.hasDate &&
                        CivilTime(header.year, header.month, header.day, header.hour, header.minute, header.second,
                                  &rec->startTime);
    counts->push_back(DecodeWfdbSignal(path, header, size_t(lead), SinkTo(data)));
    DecodeOtherLeads(channels, lead, rec, counts, data, [&](int k, const LeadSink& sink) {
        return DecodeWfdbSignal(path, header, size_t(k), sink);
    });
}

// Decodes in the child: what is known of the recording goes to info, then
// the samples to data.
void Decode(const std::string& path, SignatureKind kind, const std::string& durationField,
            const StandardOpenOptions& options, CResultWriter& info, CResultWriter& data)
{
    auto rec = std::make_shared<StandardRecording>();
    std::vector<uint64_t> counts;
    if (kind == SignatureKind::mit) {
        DecodeWfdb(path, options, rec.get(), &counts, data);
        data.Flush();
        WriteRecording(info, *rec, counts);
        return;
    }
    const bool edf = kind == SignatureKind::edf || kind == SignatureKind::bdf;
    EdfFacts facts;
    if (edf && ReadEdfFacts(path, kind == SignatureKind::bdf, &facts)) {
        if (facts.annotationsOnly)
            throw CFileException(CFileException::leadNotFound, -1, path);
        if (facts.gaps)
            throw CFileException(CFileException::recordingDiscontinuous, -1, path);
    }
    BiosigHandle handle(path);
    HDRTYPE* hdr = handle.get();
    rec->format = GetFileTypeString(hdr->TYPE) ? GetFileTypeString(hdr->TYPE) : "";
    // BioSig's combined rate of an EDF/BDF file with signals of several
    // rates can be absurd; each signal's own rate is what counts.
    if (hdr->NS < 1 || hdr->NRec < 1 || hdr->SPR < 1 || !std::isfinite(hdr->SampleRate) || hdr->SampleRate <= 0 ||
        (!edf && hdr->SampleRate > 1e6))
        throw CFileException(CFileException::recordingDamaged, -1, path);
    std::vector<Channel> channels;
    for (int k = 0; k < hdr->NS; ++k) {
        const CHANNEL_TYPE& c = hdr->CHANNEL[k];
        rec->channelLabels.push_back(Trimmed(c.Label));
        channels.push_back({c.Label, c.OnOff == 1 && IsVoltage(c.PhysDimCode) && c.SPR > 0});
    }
    const int lead = ChooseLead(channels, options.lead, path);
    // Channel k's rate, checked; and whether it is read from its data records.
    auto rateOf = [&](const HDRTYPE* h, int k, bool* own) {
        const CHANNEL_TYPE& c = h->CHANNEL[k];
        if (c.SPR == 0 || h->SPR % c.SPR != 0)
            throw CFileException(CFileException::recordingDamaged, -1, path);
        const double ownRate = edf && facts.recordSeconds > 0 ? c.SPR / facts.recordSeconds
                                                              : h->SampleRate * c.SPR / h->SPR;
        const double rate = NominalRate(ownRate, c.SPR, kind, durationField);
        if (!(rate >= 1) || rate > 1e6)
            throw CFileException(CFileException::formatUnsupported, -1, path);
        // BioSig 3.0.1 misreads GDF samples packed in bit fields (12-bit
        // samples, as its own converter writes them from WFDB format 212).
        if (kind == SignatureKind::gdf && c.GDFTYP > 255 && (c.GDFTYP - 255) % 8 != 0)
            throw CFileException(CFileException::formatUnsupported, -1, path);
        *own = edf && facts.records == h->NRec && size_t(k) < facts.samplesPerRecord.size() &&
               facts.samplesPerRecord[size_t(k)] == c.SPR && h->SPR != c.SPR;
        return rate;
    };
    auto decodeWith = [&](HDRTYPE* h, int k, double rate, bool own, const LeadSink& sink) {
        const CHANNEL_TYPE& c = h->CHANNEL[k];
        const double mv = MillivoltsPerUnit(c.PhysDimCode);
        if (own)
            return DecodeEdfLead(path, facts, kind == SignatureKind::bdf, k, c.Cal * mv, c.Off * mv, rate, sink);
        return DecodeLead(h, path, LeadLayout{k, h->NRec, h->SPR, c.SPR, mv}, rate, sink);
    };
    const CHANNEL_TYPE& ch = hdr->CHANNEL[lead];
    bool ownEdf = false;
    const double rate = rateOf(hdr, lead, &ownEdf);
    rec->leadNumber = lead + 1;
    rec->leadLabel = Trimmed(ch.Label);
    rec->sourceRate = rate;
    rec->hasStartTime = StartTimeOf(hdr, &rec->startTime);
    // EDF+ says "Startdate X" for an unknown start, and its four-digit year
    // holds where the header's two digits cannot.
    if (edf && facts.plus) {
        CTime t;
        rec->hasStartTime = facts.startKnown && CivilTime(facts.year, facts.month, facts.day, facts.hour,
                                                          facts.minute, facts.second, &t);
        if (rec->hasStartTime && (!StartTimeOf(hdr, &rec->startTime) ||
                                  rec->startTime.GetLocalFields().year != facts.year))
            rec->startTime = t;
    }
    // Reading the lead changes the header: the other leads' layout is taken first.
    struct Plan {
        bool ok = false, own = false;
        double rate = 0;
    };
    std::vector<Plan> plans(channels.size());
    for (size_t k = 0; k < channels.size(); ++k) {
        try {
            plans[k].rate = rateOf(hdr, int(k), &plans[k].own);
            plans[k].ok = true;
        } catch (const CFileException&) {
        }
    }
    counts.push_back(decodeWith(hdr, lead, rate, ownEdf, SinkTo(data)));
    // BioSig reads a file once only from its start: every other lead not
    // read from the data records gets a fresh handle.
    DecodeOtherLeads(channels, lead, rec.get(), &counts, data, [&](int k, const LeadSink& sink) {
        const Plan& plan = plans[size_t(k)];
        if (!plan.ok)
            throw CFileException(CFileException::formatUnsupported, -1, path);
        if (plan.own)
            return decodeWith(hdr, k, plan.rate, true, sink);
        BiosigHandle fresh(path);
        HDRTYPE* h = fresh.get();
        if (h->NS != hdr->NS || h->SPR != hdr->SPR || h->NRec != hdr->NRec)
            throw CFileException(CFileException::recordingDamaged, -1, path);
        return decodeWith(h, k, plan.rate, false, sink);
    });
    data.Flush();
    WriteRecording(info, *rec, counts);
}

void RunStandardDecode(const std::vector<std::string>& args, CResultWriter& info, CResultWriter& data)
{
    if (args.size() != 4)
        throw std::invalid_argument("decode");
    try {
        Decode(args[0], SignatureKind(std::stoi(args[1])), args[2], StandardOpenOptions{args[3]}, info, data);
    } catch (const CFileException& e) {
        WriteFileError(info, e);
    }
}

}  // namespace

const SandboxJob kStandardDecodeJob{"decode", RunStandardDecode};

std::unique_ptr<CStandardFile> OpenStandardRecording(const std::string& path, const StandardOpenOptions& options,
                                                     CTime* pTimeStart)
{
    const Sniffed sniffed = SniffStandardFile(path);
    if (sniffed.kind == SignatureKind::none)
        return nullptr;

    // BioSig takes an HL7 aECG document for one only after an XML
    // declaration, which the format does not require: a copy gets one.
    std::string source = path;
    struct Scratch {
        std::string path;
        ~Scratch() { if (!path.empty()) ::unlink(path.c_str()); }
    } scratch;
    if (sniffed.kind == SignatureKind::hl7) {
        const std::string text = ReadText(path, size_t(1) << 30);
        const size_t lt = text.find_first_not_of(" \t\r\n\xef\xbb\xbf");
        if (lt != std::string::npos && text.compare(lt, 5, "<?xml") != 0) {
            const char* tmp = std::getenv("TMPDIR");
            std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/vitrel-aecg-XXXXXX";
            const int fd = ::mkstemp(name.data());
            if (fd < 0)
                throw CFileException(CFileException::OsErrorToCause(errno), errno, name);
            scratch.path = name;
            const std::string copy = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + text.substr(lt);
            size_t done = 0;
            while (done < copy.size()) {
                const ssize_t w = ::write(fd, copy.data() + done, copy.size() - done);
                if (w < 0 && errno == EINTR)
                    continue;
                if (w <= 0)
                    break;
                done += size_t(w);
            }
            ::close(fd);
            if (done != copy.size())
                throw CFileException(CFileException::diskFull, ENOSPC, name);
            source = name;
        }
    }

    std::string result;
    int samples = -1;
    // The duration field goes as far as its first NUL, as the decode reads it.
    const SandboxOutcome outcome = RunSandboxJob(
        DecoderInputs(source), kStandardDecodeJob,
        {source, std::to_string(int(sniffed.kind)), sniffed.durationField.c_str(), options.lead.c_str()},
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
    rec->detectorSamples = WithoutBaseline(rec->samples);

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
    std::vector<std::string> files = {stem + ".dat", stem + ".atr"};
    WfdbHeader header;
    if (ParseWfdbHeader(ReadText(path, 1 << 20), &header))
        for (const WfdbSignal& s : header.signals) {
            const std::string file = s.file[0] == '/' ? s.file : FolderOf(path) + s.file;
            if (s.file != "~" && std::find(files.begin(), files.end(), file) == files.end())
                files.push_back(file);
        }
    return files;
}
