#include "recording/File.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "resources/StringTable.h"

namespace {

const char* MessageTemplate(int cause)
{
    switch (cause) {
    case CFileException::fileNotFound: return Text::kFileNotFound;
    case CFileException::badPath: return Text::kBadPath;
    case CFileException::tooManyOpenFiles: return Text::kTooManyOpenFiles;
    case CFileException::accessDenied: return Text::kAccessDenied;
    case CFileException::invalidFile: return Text::kInvalidFile;
    case CFileException::badSeek: return Text::kBadSeek;
    case CFileException::hardIO: return Text::kHardIO;
    case CFileException::sharingViolation: return Text::kSharingViolation;
    case CFileException::lockViolation: return Text::kLockViolation;
    case CFileException::recordingDamaged: return Text::kRecordingDamaged;
    case CFileException::formatUnsupported: return Text::kFormatUnsupported;
    case CFileException::leadNotFound: return Text::kLeadNotFound;
    case CFileException::recordingTooLarge: return Text::kRecordingTooLarge;
    case CFileException::recordingDiscontinuous: return Text::kRecordingDiscontinuous;
    default: return Text::kGenericFileError;
    }
}

}  // namespace

CFileException::CFileException(int cause, int osError, std::string fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName))
{
    m_strWhat = GetErrorMessage();
}

int CFileException::OsErrorToCause(int osError)
{
    switch (osError) {
    case ENOENT: return fileNotFound;
    case ENOTDIR: case ENAMETOOLONG: case ELOOP: case EINVAL: return badPath;
    case EMFILE: case ENFILE: return tooManyOpenFiles;
    case EACCES: case EPERM: case EISDIR: case EROFS: return accessDenied;
    case EBADF: return invalidFile;
    case ESPIPE: case EOVERFLOW: return badSeek;
    case EIO: return hardIO;
    case ETXTBSY: case EBUSY: return sharingViolation;
    case EDEADLK: case ENOLCK: return lockViolation;
    default: return genericException;
    }
}

std::string CFileException::FormatMessage(int cause, const std::string& fileName)
{
    std::string text = MessageTemplate(cause);
    const size_t at = text.find("%1");
    if (at != std::string::npos)
        text.replace(at, 2, fileName);
    return text;
}

std::string CFileException::GetErrorMessage() const
{
    return FormatMessage(m_cause, m_strFileName);
}

const char* CFileException::what() const noexcept
{
    try {
        m_strWhat = GetErrorMessage();
    } catch (...) {
        // Out of memory: the text of the last call is still a valid answer.
    }
    return m_strWhat.c_str();
}

CFile::~CFile()
{
    if (m_hFile >= 0 && m_bCloseOnDelete)
        ::close(m_hFile);
}

bool CFile::Open(const std::string& path, unsigned /*flags: read-only, shared*/, CFileException* pError)
{
    Close();
    m_strFileName = path;
    // Non-blocking so that a FIFO cannot hang the open; cleared again below.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    int err = 0;
    if (fd < 0) {
        err = errno;
    } else {
        struct stat st {};
        if (::fstat(fd, &st) != 0)
            err = errno;
        else if (S_ISDIR(st.st_mode))
            err = EISDIR;
        else if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))
            err = EACCES;  // pipes, sockets and terminals are no recordings
        if (err != 0) {
            ::close(fd);
        } else {
            const int fl = ::fcntl(fd, F_GETFL);
            if (fl >= 0)
                ::fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
        }
    }
    if (err != 0) {
        if (pError) {
            pError->m_cause = CFileException::OsErrorToCause(err);
            pError->m_lOsError = err;
            pError->m_strFileName = path;
        }
        return false;
    }
    m_hFile = fd;
    m_bCloseOnDelete = true;
    return true;
}

void CFile::Close()
{
    if (m_hFile >= 0)
        ::close(m_hFile);
    m_hFile = -1;
    m_bCloseOnDelete = false;
}

void CFile::ThrowOsError(int osError) const
{
    throw CFileException(CFileException::OsErrorToCause(osError), osError, m_strFileName);
}

uint64_t CFile::Seek(int64_t offset, SeekPosition from)
{
    if (m_hFile < 0)
        ThrowOsError(EBADF);
    const int whence = from == begin ? SEEK_SET : from == current ? SEEK_CUR : SEEK_END;
    const off_t pos = ::lseek(m_hFile, static_cast<off_t>(offset), whence);
    if (pos < 0)
        ThrowOsError(errno);
    return static_cast<uint64_t>(pos);
}

uint32_t CFile::Read(void* buffer, uint32_t count)
{
    if (m_hFile < 0)
        ThrowOsError(EBADF);
    auto* p = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(m_hFile, p + done, count - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ThrowOsError(errno);
        }
        if (n == 0)
            break;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

uint64_t CFile::GetLength() const
{
    if (m_hFile < 0)
        ThrowOsError(EBADF);
    struct stat st {};
    if (::fstat(m_hFile, &st) != 0)
        ThrowOsError(errno);
    if (S_ISBLK(st.st_mode)) {
        const off_t end = ::lseek(m_hFile, 0, SEEK_END);
        if (end < 0)
            ThrowOsError(errno);
        return static_cast<uint64_t>(end);
    }
    return static_cast<uint64_t>(st.st_size);
}

std::string CFile::FileTitleOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string CFile::GetFileTitle() const
{
    return FileTitleOf(m_strFileName);
}

bool IsSameFile(const std::string& a, const std::string& b)
{
    struct stat sa, sb;
    if (::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    // A path that cannot be looked up (removed, not yet written) is compared
    // by its spelling once links and dots are resolved as far as they exist.
    std::error_code ea, eb;
    const std::filesystem::path ca = std::filesystem::weakly_canonical(a, ea);
    const std::filesystem::path cb = std::filesystem::weakly_canonical(b, eb);
    if (ea || eb)
        return a == b;
    return ca == cb;
}
