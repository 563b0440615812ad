// BioSig's side of a standard file, linked into the decode helper only.
#include "formats/BiosigHandle.h"

#include <cerrno>
#include <sys/stat.h>

#include "recording/File.h"

namespace {

bool TypeMatches(SignatureKind kind, FileFormat type)
{
    switch (kind) {
    case SignatureKind::edf: return type == EDF;
    case SignatureKind::bdf: return type == BDF;
    case SignatureKind::gdf: return type == GDF || type == GDF1;
    case SignatureKind::mit: return type == MIT;
    case SignatureKind::scp: return type == SCP_ECG;
    case SignatureKind::hl7: return type == HL7aECG;
    case SignatureKind::none: break;
    }
    return false;
}

}  // namespace

BiosigHandle::BiosigHandle(const std::string& path)
{
    const SignatureKind kind = SniffStandardFile(path).kind;
    // BioSig crashes on a WFDB record whose signal file is missing or short.
    uint64_t signalBytes = 0;
    if (kind == SignatureKind::mit) {
        for (const std::string& file : WfdbSignalFiles(path)) {
            struct stat st {};
            if (::stat(file.c_str(), &st) != 0)
                throw CFileException(CFileException::fileNotFound, ENOENT, file);
            signalBytes += uint64_t(st.st_size);
        }
    }
    if (!StandardHeaderIsSound(path, kind))
        throw CFileException(CFileException::recordingDamaged, -1, path);
    HDRTYPE* hdr = constructHDR(0, 0);
    if (!hdr)
        throw CFileException(CFileException::recordingTooLarge, -1, path);
    // A header without a date leaves T0 as it is: 0 means "not told".
    hdr->T0 = 0;
    hdr = sopen(path.c_str(), "r", hdr);
    if (!hdr)
        throw CFileException(CFileException::recordingDamaged, -1, path);
    m_hdr = hdr;
    const int error = biosig_check_error(hdr);
    const bool complete =
        kind != SignatureKind::mit || (hdr->NRec >= 0 && (uint64_t(hdr->NRec) * hdr->AS.bpb8 + 7) / 8 <= signalBytes);
    if (error == 0 && TypeMatches(kind, hdr->TYPE) && complete)
        return;
    sclose(hdr);
    destructHDR(hdr);
    m_hdr = nullptr;
    if (error == B4C_FORMAT_UNSUPPORTED || error == B4C_DATATYPE_UNSUPPORTED || error == B4C_CHAR_ENCODING_UNSUPPORTED ||
        error == B4C_DECOMPRESSION_FAILED)
        throw CFileException(CFileException::formatUnsupported, -1, path);
    if (error == B4C_INSUFFICIENT_MEMORY || error == B4C_MEMORY_ALLOCATION_FAILED)
        throw CFileException(CFileException::recordingTooLarge, -1, path);
    throw CFileException(CFileException::recordingDamaged, -1, path);
}

BiosigHandle::~BiosigHandle()
{
    if (m_hdr) {
        sclose(m_hdr);
        destructHDR(m_hdr);
    }
}
