#include "standard_harness.h"

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "formats/BiosigHandle.h"
#include "formats/Reference.h"
#include "formats/StandardFile.h"
#include "recording/EcgFile.h"
#include "scratch.h"

namespace {

void RemoveAll(const std::vector<std::string>& written)
{
    for (const std::string& w : written)
        unlink(w.c_str());
}

}  // namespace

std::string WriteStandardFuzzInput(const uint8_t* data, size_t size, std::vector<std::string>* written)
{
    if (size < 2)
        return std::string();
    static const char* const kNames[] = {"rec.edf", "rec.bdf", "rec.gdf", "rec.hea", "rec.scp", "rec.xml", "rec.bin"};
    const std::string name = kNames[data[0] % 7];
    // A WFDB header is byte 1 long; the bytes after it are both its signal
    // and its annotation file.
    const uint8_t* body = data + 1;
    size_t length = size - 1;
    if (name == "rec.hea") {
        body = data + 2;
        length = std::min<size_t>(data[1], size - 2);
        written->push_back(WriteFuzzFile("rec.dat", body + length, size - 2 - length));
        written->push_back(WriteFuzzFile("rec.atr", body + length, size - 2 - length));
    }
    written->push_back(WriteFuzzFile(name, body, length));
    return written->back();
}

int FuzzBiosigOpen(const uint8_t* data, size_t size)
{
    std::vector<std::string> written;
    const std::string path = WriteStandardFuzzInput(data, size, &written);
    // Only what the program itself hands to BioSig.
    if (path.empty() || SniffStandardFile(path).kind == SignatureKind::none) {
        RemoveAll(written);
        return 0;
    }
    try {
        BiosigHandle handle(path);
    } catch (const CFileException&) {
    }
    RemoveAll(written);
    return 0;
}

int FuzzStandardFormat(const uint8_t* data, size_t size)
{
    std::vector<std::string> written;
    const std::string path = WriteStandardFuzzInput(data, size, &written);
    if (path.empty())
        return 0;

    try {
        CTime start(0);
        auto file = OpenEcgFile(path, &start);
        FUZZ_CHECK(file);
        const int kind = file->GetFileKind();
        FUZZ_CHECK(kind >= 1 && kind <= 4);
        const uint64_t count = file->GetSampleCount();
        int16_t samples[64];
        for (uint64_t first : {uint64_t(0), count ? count - 1 : 0, count, UINT64_MAX / 4}) {
            const uint32_t n = file->ReadSamples(samples, first, 64);
            FUZZ_CHECK(first >= count ? n == 0 : n == std::min<uint64_t>(64, count - first));
        }
        if (kind == ECG_KIND_STANDARD) {
            auto reader = file->OpenReader();
            FUZZ_CHECK(reader && reader->GetSampleCount() == count);
            char text[32];
            if (file->FormatStartTime(text))
                FUZZ_CHECK(std::strlen(text) < sizeof text);
        }
    } catch (const CFileException& e) {
        FUZZ_CHECK(!e.GetErrorMessage().empty());
    } catch (const CTimeException&) {
    }
    std::vector<int64_t> beats;
    std::string error;
    if (ClassifyReference(path) != ReferenceKind::none && ReadReferenceBeats(path, &beats, &error))
        for (size_t i = 1; i < beats.size(); ++i)
            FUZZ_CHECK(beats[i] >= beats[i - 1]);
    RemoveAll(written);
    return 0;
}
