#include "recording/OutputFile.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kBufferSize = 64 * 1024;

// Past a file-size limit the default action of SIGXFSZ ends the program
// half-way; ignored, the write fails with EFBIG and is reported.
void IgnoreFileSizeSignal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction old {};
        if (::sigaction(SIGXFSZ, nullptr, &old) == 0 && !(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_DFL)
            std::signal(SIGXFSZ, SIG_IGN);
    });
}

// The file path finally names: links followed (a dangling one included).
std::string FollowLinks(const std::string& path)
{
    namespace fs = std::filesystem;
    fs::path p = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            break;
        std::error_code ec;
        const fs::path target = fs::read_symlink(p, ec);
        if (ec)
            break;
        p = target.is_absolute() ? target : p.parent_path() / target;
    }
    return p.string();
}

std::string FolderOf(const std::string& path)
{
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    return folder.empty() ? std::string(".") : folder.string();
}

std::string RandomSuffix()
{
    static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::string s(6, 'X');
    for (char& c : s)
        c = kChars[random() % (sizeof kChars - 1)];
    return s;
}

// A new file beside path named ".NAME.XXXXXX"; -1 with errno on failure.
int CreateBeside(const std::string& path, mode_t mode, std::string* pName)
{
    std::string base = std::filesystem::path(path).filename().string();
    if (base.size() > 200)
        base.resize(200);
    const std::string prefix = FolderOf(path) + "/." + base + ".";
    for (int attempt = 0; attempt < 100; ++attempt) {
        *pName = prefix + RandomSuffix();
        const int fd = ::open(pName->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

void SyncFolder(const std::string& path)
{
    // Makes the rename itself durable; not every file system can.
    const int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

COutputFile::~COutputFile()
{
    Discard();
}

bool COutputFile::Fail(int error)
{
    if (m_error == 0)
        m_error = error != 0 ? error : EIO;
    return false;
}

std::string COutputFile::ErrorText() const
{
    return m_error != 0 ? std::system_category().message(m_error) : std::string();
}

bool COutputFile::Open(const std::string& path)
{
    Discard();
    m_error = 0;
    m_strPath = path;
    IgnoreFileSizeSignal();
    m_strTarget = FollowLinks(path);
    struct stat st {};
    const bool exists = ::stat(m_strTarget.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode))
        return Fail(EISDIR);
    if (exists && !S_ISREG(st.st_mode)) {
        m_fd = ::open(m_strTarget.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        m_bDirect = m_fd >= 0;
        return m_bDirect || Fail(errno);
    }
    // A file the user may not change is not replaced behind the permissions.
    if (exists && ::access(m_strTarget.c_str(), W_OK) != 0)
        return Fail(errno);
    m_fd = CreateBeside(m_strTarget, exists ? S_IRUSR | S_IWUSR : 0666, &m_strTemp);
    if (m_fd < 0) {
        m_strTemp.clear();
        return Fail(errno);
    }
    if (exists)
        ::fchmod(m_fd, st.st_mode & 07777);
    return true;
}

bool COutputFile::OpenScratch(const std::string& path)
{
    Discard();
    m_error = 0;
    m_strPath = path;
    IgnoreFileSizeSignal();
    const std::string folder = FolderOf(FollowLinks(path));
    m_fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (m_fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // No unnamed files here: a named one, unlinked at once.
        std::string name;
        m_fd = CreateBeside(FollowLinks(path), S_IRUSR | S_IWUSR, &name);
        if (m_fd >= 0)
            ::unlink(name.c_str());
    }
    return m_fd >= 0 || Fail(errno);
}

bool COutputFile::WriteAll(const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Fail(errno);
        }
        if (n == 0)
            return Fail(EIO);  // no progress is a failing device
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool COutputFile::Write(const void* data, size_t size)
{
    if (m_error != 0)
        return false;
    if (m_fd < 0)
        return Fail(EBADF);
    const char* bytes = static_cast<const char*>(data);
    if (m_buffer.size() + size <= kBufferSize) {
        m_buffer.insert(m_buffer.end(), bytes, bytes + size);
        return true;
    }
    return Flush() && WriteAll(bytes, size);
}

bool COutputFile::Flush()
{
    if (m_error != 0)
        return false;
    if (m_buffer.empty())
        return true;
    if (m_fd < 0)
        return Fail(EBADF);
    const bool ok = WriteAll(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
    return ok;
}

bool COutputFile::Finish()
{
    if (m_bFinished)
        return true;
    if (!Flush()) {
        Discard();
        return false;
    }
    if (m_fd < 0) {
        Fail(EBADF);
        Discard();
        return false;
    }
    if (!m_bDirect && ::fsync(m_fd) != 0) {
        Fail(errno);
        Discard();
        return false;
    }
    const int fd = m_fd;
    m_fd = -1;
    // Some file systems only report a failed write when the file is closed.
    if (::close(fd) != 0 && errno != EINTR) {
        Fail(errno);
        Discard();
        return false;
    }
    m_bFinished = true;
    return true;
}

bool COutputFile::Commit()
{
    if (!Finish())
        return false;
    m_bFinished = false;
    if (m_bDirect) {
        m_bDirect = false;
        return true;
    }
    if (::rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0) {
        Fail(errno);
        Discard();
        return false;
    }
    m_strTemp.clear();
    SyncFolder(m_strTarget);
    return true;
}

void COutputFile::Discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    if (!m_strTemp.empty()) {
        ::unlink(m_strTemp.c_str());
        m_strTemp.clear();
    }
    m_buffer.clear();
    m_bDirect = false;
    m_bFinished = false;
}
