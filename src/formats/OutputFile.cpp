#include "formats/OutputFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kBufferSize = 1 << 20;

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string SystemError(const std::string& path, int err)
{
    return path + ": " + std::strerror(err);
}

COutputFile::~COutputFile()
{
    Discard();
}

bool COutputFile::Create(const std::string& target, std::string* error)
{
    Discard();
    m_target = target;
    m_error = 0;
    const std::string name = target.substr(target.find_last_of('/') + 1);
    std::string temp = FolderOf(target) + "/." + name + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = SystemError(target, errno);
        return false;
    }
    // mkstemp makes the file private; give it the mode a plain create would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask);
    m_fd = fd;
    m_temp = temp;
    m_buffer.reserve(kBufferSize);
    return true;
}

void COutputFile::Fail(int err)
{
    if (m_error == 0)
        m_error = err ? err : EIO;
}

void COutputFile::Flush()
{
    size_t done = 0;
    while (m_error == 0 && done < m_buffer.size()) {
        const ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            Fail(errno);
        } else if (n == 0) {
            Fail(ENOSPC);
        } else {
            done += size_t(n);
        }
    }
    m_buffer.clear();
}

void COutputFile::Write(const void* data, size_t size)
{
    if (m_fd < 0 || m_error)
        return;
    const char* p = static_cast<const char*>(data);
    while (size > 0 && m_error == 0) {
        const size_t room = kBufferSize - m_buffer.size();
        const size_t n = size < room ? size : room;
        m_buffer.insert(m_buffer.end(), p, p + n);
        p += n;
        size -= n;
        if (m_buffer.size() == kBufferSize)
            Flush();
    }
}

bool COutputFile::Finish(std::string* error)
{
    if (m_fd < 0 && m_temp.empty()) {
        *error = SystemError(m_target, EBADF);
        return false;
    }
    if (m_fd >= 0) {
        Flush();
        if (m_error == 0 && ::fsync(m_fd) != 0)
            Fail(errno);
        if (::close(m_fd) != 0)
            Fail(errno);
        m_fd = -1;
    }
    if (m_error != 0) {
        *error = SystemError(m_target, m_error);
        Discard();
        return false;
    }
    return true;
}

bool COutputFile::Commit(std::string* error)
{
    if (!Finish(error))
        return false;
    if (::rename(m_temp.c_str(), m_target.c_str()) != 0)
        Fail(errno);
    if (m_error != 0) {
        *error = SystemError(m_target, m_error);
        Discard();
        return false;
    }
    m_temp.clear();
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(FolderOf(m_target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

void COutputFile::Discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_temp.empty())
        ::unlink(m_temp.c_str());
    m_temp.clear();
    m_buffer.clear();
}
