// The decode of a standard recording, run in the decode helper only: the
// programs that open files never load BioSig or the resampler themselves.
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
#include "formats/StandardText.h"
#include "formats/WfdbRecord.h"

using namespace standard_text;

namespace {

constexpr size_t kSliceSamples = size_t(1) << 16;

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

const SandboxJob kStandardDecodeJob{kStandardDecodeName, RunStandardDecode};

