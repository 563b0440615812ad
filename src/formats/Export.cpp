#include "formats/Export.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

#include "formats/MitAnnotations.h"
#include "recording/OutputFile.h"

namespace {

constexpr uint32_t kReadBlock = ECG_SAMPLE_RATE * 60;
// The EDF+ signal spans exactly +-32 mV, so one digital step is 1/1010 mV.
constexpr int kEdfDigitalLimit = 32 * ECG_UNITS_PER_MV;

bool IsIrregular(const ExportInput& in, uint32_t position)
{
    return std::binary_search(in.irregular.begin(), in.irregular.end(), position);
}

std::string Format(const char* fmt, auto... args)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, fmt, args...);
    return buf;
}

std::string ClockText(const ExportInput& in, uint32_t position)
{
    const uint32_t millis = position % ECG_SAMPLE_RATE * (1000 / ECG_SAMPLE_RATE);
    const uint64_t seconds = position / ECG_SAMPLE_RATE;
    if (!in.hasStartTime)
        return Format("%02llu:%02llu:%02llu.%03u", (unsigned long long)(seconds / 3600),
                      (unsigned long long)(seconds / 60 % 60), (unsigned long long)(seconds % 60), millis);
    const LocalFields f = (in.startTime + int64_t(seconds)).GetLocalFields();
    return Format("%04d-%02d-%02d %02d:%02d:%02d.%03u", f.year, f.month, f.day, f.hour, f.minute, f.second, millis);
}

// A fixed-width, space-padded ASCII header field.
std::string Field(const std::string& text, size_t width)
{
    std::string s = text.substr(0, width);
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126)
            c = '_';
    s.resize(width, ' ');
    return s;
}

void PutLe16(std::string& out, int v)
{
    out.push_back(char(v & 0xFF));
    out.push_back(char((v >> 8) & 0xFF));
}

// Reads the whole signal block by block, handing each block to f.
template <class F>
void ForEachBlock(CEcgFile& ecg, F&& f)
{
    std::vector<int16_t> block(kReadBlock);
    const uint64_t total = ecg.GetSampleCount();
    for (uint64_t first = 0; first < total; first += kReadBlock) {
        const uint32_t want = uint32_t(std::min<uint64_t>(kReadBlock, total - first));
        const uint32_t got = ecg.ReadSamples(block.data(), first, want);
        std::fill(block.begin() + got, block.begin() + want, int16_t(0));
        f(block.data(), want);
    }
}

std::string EdfOnset(uint64_t position)
{
    return Format("+%llu.%03u", (unsigned long long)(position / ECG_SAMPLE_RATE),
                  unsigned(position % ECG_SAMPLE_RATE) * (1000 / ECG_SAMPLE_RATE));
}

std::string EdfDuration(uint64_t samples)
{
    return Format("%llu.%03u", (unsigned long long)(samples / ECG_SAMPLE_RATE),
                  unsigned(samples % ECG_SAMPLE_RATE) * (1000 / ECG_SAMPLE_RATE));
}

// False with "PATH: reason" in *error when the file has failed.
bool Check(const COutputFile& file, bool ok, std::string* error)
{
    if (!ok)
        *error = file.ErrorMessage();
    return ok;
}

}  // namespace

BeatClass ExportedClass(const ExportInput& in, size_t index)
{
    if (index < in.classes.size() && in.classes[index] != BeatClass::Unclassified)
        return in.classes[index];
    return IsIrregular(in, in.beats[index]) ? BeatClass::Q : BeatClass::N;
}

bool WriteBeatsCsv(const std::string& out, const ExportInput& in, std::string* error)
{
    COutputFile file;
    if (!Check(file, file.Open(out), error))
        return false;
    for (size_t i = 0; i < in.beats.size(); ++i) {
        const uint32_t p = in.beats[i];
        std::string line = std::to_string(p) + "," + ClockText(in, p) + ",";
        if (i > 0)
            line += std::to_string(uint64_t(p - in.beats[i - 1]) * 1000 / ECG_SAMPLE_RATE);
        line += IsIrregular(in, p) ? ",1," : ",0,";
        line += GetBeatClassInfo(ExportedClass(in, i)).letter;
        line += '\n';
        file.Write(line);
    }
    return Check(file, file.Commit(), error);
}

bool WriteEdfPlus(const std::string& out, CEcgFile& ecg, const ExportInput& in, std::string* error)
{
    const uint64_t samples = ecg.GetSampleCount();
    const uint64_t records = (samples + ECG_SAMPLE_RATE - 1) / ECG_SAMPLE_RATE;

    // Each record's annotations: its time-keeping entry, then its beats.
    std::vector<std::string> tals(records);
    for (uint64_t r = 0; r < records; ++r)
        tals[r] = EdfOnset(r * ECG_SAMPLE_RATE) + "\x14\x14" + std::string(1, '\0');
    const auto recordOf = [&](uint64_t p) { return std::min<uint64_t>(p / ECG_SAMPLE_RATE, records ? records - 1 : 0); };
    for (const Episode& e : in.af) {
        const uint64_t r = recordOf(e.first);
        if (r < records)
            tals[r] += EdfOnset(e.first) + "\x15" + EdfDuration(e.last - e.first) + "\x14" + "AF" + "\x14" +
                       std::string(1, '\0');
    }
    for (size_t i = 0; i < in.beats.size(); ++i) {
        const uint32_t p = in.beats[i];
        const uint64_t r = recordOf(p);
        if (r < records)
            tals[r] += EdfOnset(p) + "\x14" + GetBeatClassInfo(ExportedClass(in, i)).edfText + "\x14" +
                       std::string(1, '\0');
    }
    size_t longest = 16;
    for (const std::string& t : tals)
        longest = std::max(longest, t.size());
    const size_t annotationSamples = (longest + 1) / 2;

    std::string header;
    header += Field("0", 8);
    header += Field("X X X X", 80);
    static const char* const kMonths[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                          "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    LocalFields f;
    if (in.hasStartTime)
        f = in.startTime.GetLocalFields();
    if (f.valid && f.month >= 1 && f.month <= 12 && f.year >= 0 && f.year <= 9999) {
        header += Field(Format("Startdate %02d-%s-%04d X X vitrel-ecg", f.day, kMonths[f.month - 1], f.year), 80);
        // Two digits stand for 1985-2084; outside that the year is "yy" and
        // only the recording field above tells it.
        const bool inRange = f.year >= 1985 && f.year <= 2084;
        header += Field(inRange ? Format("%02d.%02d.%02d", f.day, f.month, f.year % 100)
                                : Format("%02d.%02d.yy", f.day, f.month), 8);
        header += Field(Format("%02d.%02d.%02d", f.hour, f.minute, f.second), 8);
    } else {
        header += Field("Startdate X X X vitrel-ecg", 80);
        header += Field("01.01.85", 8);
        header += Field("00.00.00", 8);
    }
    header += Field("768", 8);
    header += Field("EDF+C", 44);
    header += Field(std::to_string(records), 8);
    header += Field("1", 8);
    header += Field("2", 4);
    // EDF+ labels start with the signal type; a label that has it keeps it once.
    const std::string upper = [&] {
        std::string u = in.leadLabel;
        for (char& c : u)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        return u;
    }();
    const bool typed = upper.rfind("ECG", 0) == 0 || upper.rfind("EKG", 0) == 0;
    const std::string label = in.leadLabel.empty() ? "ECG" : typed ? in.leadLabel : "ECG " + in.leadLabel;
    header += Field(label, 16) + Field("EDF Annotations", 16);
    header += Field("", 80) + Field("", 80);
    header += Field("mV", 8) + Field("", 8);
    header += Field("-32", 8) + Field("-1", 8);
    header += Field("32", 8) + Field("1", 8);
    header += Field(std::to_string(-kEdfDigitalLimit), 8) + Field("-32768", 8);
    header += Field(std::to_string(kEdfDigitalLimit), 8) + Field("32767", 8);
    header += Field("", 80) + Field("", 80);
    header += Field(std::to_string(ECG_SAMPLE_RATE), 8) + Field(std::to_string(annotationSamples), 8);
    header += Field("", 32) + Field("", 32);

    COutputFile file;
    if (!Check(file, file.Open(out), error))
        return false;
    file.Write(header);
    uint64_t record = 0;
    std::string data;
    ForEachBlock(ecg, [&](const int16_t* block, uint32_t n) {
        for (uint32_t i = 0; i < n; i += ECG_SAMPLE_RATE, ++record) {
            data.clear();
            for (uint32_t k = 0; k < uint32_t(ECG_SAMPLE_RATE); ++k) {
                // The last record is filled with the last sample: a step to
                // zero there would read back as a beat.
                const int v = i + k < n ? block[i + k] : n > 0 ? block[n - 1] : 0;
                PutLe16(data, std::clamp(v, -kEdfDigitalLimit, kEdfDigitalLimit));
            }
            std::string tal = tals[record];
            tal.resize(annotationSamples * 2, '\0');
            data += tal;
            file.Write(data);
        }
    });
    return Check(file, file.Commit(), error);
}

std::string WfdbRecordName(const std::string& fileTitle)
{
    std::string name = fileTitle;
    const size_t dot = name.find_last_of('.');
    // "100.hea" is record 100; a long recording's "YYMMDDHH.MM" keeps its minutes.
    if (dot != std::string::npos && dot > 0 && name.size() - dot - 1 >= 3)
        name.resize(dot);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            c = '_';
    return name.empty() ? "record" : name;
}

std::vector<std::string> WfdbRecordFiles(const std::string& dir, const std::string& name)
{
    const std::string base = (dir.empty() ? std::string(".") : dir) + "/" + name;
    return {base + ".dat", base + ".atr", base + ".hea"};
}

bool WriteWfdbRecord(const std::string& dir, const std::string& name, CEcgFile& ecg, const ExportInput& in,
                     std::string* error)
{
    const std::vector<std::string> paths = WfdbRecordFiles(dir, name);
    COutputFile dat, atr, hea;
    if (!Check(dat, dat.Open(paths[0]), error) || !Check(atr, atr.Open(paths[1]), error) ||
        !Check(hea, hea.Open(paths[2]), error))
        return false;

    // Format 16: two's complement, little-endian; the header keeps the
    // first value and the 16-bit sum that readers check.
    int first = 0;
    uint16_t checksum = 0;
    bool haveFirst = false;
    std::string bytes;
    ForEachBlock(ecg, [&](const int16_t* block, uint32_t n) {
        bytes.clear();
        for (uint32_t i = 0; i < n; ++i) {
            // -32768 is "no sample" in format 16.
            const int16_t v = std::max<int16_t>(block[i], -32767);
            if (!haveFirst) {
                first = v;
                haveFirst = true;
            }
            checksum = uint16_t(checksum + uint16_t(v));
            PutLe16(bytes, v);
        }
        dat.Write(bytes);
    });

    // Rhythm changes go before the beat they start at.
    std::vector<MitAnnotation> annotations;
    std::vector<uint32_t> afEnds;
    size_t next = 0;
    for (size_t i = 0; i < in.beats.size(); ++i) {
        const uint32_t p = in.beats[i];
        while (!afEnds.empty() && afEnds.front() < p) {
            annotations.push_back({p, MitCode::RHYTHM, 0, 0, "(N"});
            afEnds.erase(afEnds.begin());
        }
        for (; next < in.af.size() && in.af[next].first <= p; ++next) {
            annotations.push_back({in.af[next].first, MitCode::RHYTHM, 0, 0, "(AFIB"});
            afEnds.push_back(in.af[next].last);
        }
        annotations.push_back({p, GetBeatClassInfo(ExportedClass(in, i)).mitCode, 0, 0, {}});
    }
    const std::string ann = EncodeMitAnnotations(annotations);
    atr.Write(ann);

    std::string text = name + " 1 " + std::to_string(ECG_SAMPLE_RATE) + " " + std::to_string(ecg.GetSampleCount());
    if (in.hasStartTime) {
        const LocalFields f = in.startTime.GetLocalFields();
        if (f.valid)
            text += Format(" %02d:%02d:%02d %02d/%02d/%04d", f.hour, f.minute, f.second, f.day, f.month, f.year);
    }
    const std::string description = in.leadLabel.empty() ? "ECG" : in.leadLabel;
    text += "\n" + name + ".dat 16 " + std::to_string(ECG_UNITS_PER_MV) + "/mV 16 0 " + std::to_string(first) + " " +
            std::to_string(int16_t(checksum)) + " 0 " + description + "\n";
    hea.Write(text);

    // The header goes last: until it is there, no record has changed.
    for (COutputFile* file : {&dat, &atr, &hea})
        if (!Check(*file, file->Finish(), error))
            return false;
    for (COutputFile* file : {&dat, &atr, &hea})
        if (!Check(*file, file->Commit(), error))
            return false;
    return true;
}
