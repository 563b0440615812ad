// Recordings of the standard formats (EDF/EDF+, BDF/BDF+, GDF, MIT/WFDB,
// SCP-ECG, HL7 aECG), read through BioSig: one ECG lead, decoded once at
// open into 250 samples/s and 1010 units/mV, then served from memory.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "recording/EcgFile.h"

struct StandardOpenOptions {
    // Channel label (any letter case) or number counted from 1; empty picks
    // the preferred ECG lead.
    std::string lead;
};

// What one decode of a standard recording yields; shared by every reader.
struct StandardRecording {
    std::vector<int16_t> samples;  // 250/s, 1010 per mV
    // The same lead with its baseline taken out: what the detectors see, so
    // that an offset or a slow drift never costs beats.
    std::vector<int16_t> detectorSamples;
    std::string format;            // e.g. "EDF", "MIT"
    std::string leadLabel;
    int leadNumber = 0;            // counted from 1
    std::vector<std::string> channelLabels;
    double sourceRate = 0;         // the lead's own sampling rate
    // The file's other ECG leads, decoded alike, for the view only.
    struct OtherLead {
        std::string label;
        int number = 0;            // counted from 1
        std::vector<int16_t> samples;
    };
    std::vector<OtherLead> otherLeads;
    bool hasStartTime = false;
    CTime startTime;
};

class CStandardFile : public CEcgFile {
public:
    CStandardFile(const std::string& path, std::shared_ptr<const StandardRecording> recording,
                  bool forDetector = false);

    uint64_t GetSampleCount() override { return m_recording->samples.size(); }
    uint32_t ReadSamples(int16_t* buffer, uint64_t first, uint32_t count) override;
    bool ReadHeader(void*) override { return false; }
    int GetFileKind() override { return ECG_KIND_STANDARD; }
    bool GetStartTime(CTime* out) override;
    // The analysis reader: the lead without its baseline.
    std::unique_ptr<CEcgFile> OpenReader() override;
    std::string GetLeadLabel() const override { return m_recording->leadLabel; }
    int GetLeadCount() const override { return int(m_leads.size()); }
    int GetAnalysedLead() const override { return m_nAnalysed; }
    std::string GetLeadName(int lead) const override;
    uint32_t ReadLeadSamples(int lead, int16_t* buffer, uint64_t first, uint32_t count) override;
    std::unique_ptr<CEcgFile> WithAnalysedLead(int lead) override;

    const StandardRecording& Recording() const { return *m_recording; }

private:
    const std::vector<int16_t>& Samples() const;

    // Leads in the file's order: -1 is the analysed one, else an index of otherLeads.
    void IndexLeads();

    std::shared_ptr<const StandardRecording> m_recording;
    bool m_forDetector = false;
    std::vector<int> m_leads;
    int m_nAnalysed = 0;
};

// The lead less its baseline, estimated by a 200 ms then a 600 ms median
// filter (de Chazal et al. 2004), worked out at 50 values a second.
std::vector<int16_t> WithoutBaseline(const std::vector<int16_t>& samples);

// At most this many leads besides the analysed one are decoded for the view.
constexpr size_t STANDARD_MAX_OTHER_LEADS = 11;

// The preference rank of a channel label as an ECG lead (II, MLII, ECG, I,
// V1..V6, then the other limb and chest leads, then any other ECG signal);
// -1 when it names none.
int EcgLeadRank(const std::string& label);

// Null when the file carries no signature of a standard format; raises
// CFileException when it does but cannot be read as one. BioSig runs in a
// child process: a crash or a hang there is a damaged file here.
std::unique_ptr<CStandardFile> OpenStandardRecording(const std::string& path, const StandardOpenOptions& options,
                                                     CTime* pTimeStart);

// Makes OpenEcgFile (documents, vitrel-analyze) recognise standard recordings.
void RegisterStandardFormats(const StandardOpenOptions& options = {});

// The files a standard recording is read from besides its own path (a WFDB
// header's signal and annotation files).
std::vector<std::string> CompanionFiles(const std::string& path);
