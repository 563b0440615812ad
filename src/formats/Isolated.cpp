#include "formats/Isolated.h"

#include "recording/File.h"

#include <cerrno>
#include <chrono>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

void CResultWriter::Bytes(const void* p, size_t n)
{
    if (n >= (1u << 16)) {
        // Large blocks go straight out, uncopied.
        Flush();
        const char* c = static_cast<const char*>(p);
        for (size_t done = 0; done < n;) {
            const ssize_t k = ::write(m_fd, c + done, n - done);
            if (k < 0 && errno == EINTR)
                continue;
            if (k <= 0)
                ::_exit(3);
            done += size_t(k);
        }
        return;
    }
    m_buffer.append(static_cast<const char*>(p), n);
    if (m_buffer.size() >= (1u << 20))
        Flush();
}

void CResultWriter::String(const std::string& s)
{
    Value(uint32_t(s.size()));
    Bytes(s.data(), s.size());
}

void CResultWriter::Flush()
{
    size_t done = 0;
    while (done < m_buffer.size()) {
        const ssize_t n = ::write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ::_exit(3);  // the parent has gone
        done += size_t(n);
    }
    m_buffer.clear();
}

bool CResultReader::Bytes(void* p, size_t n)
{
    if (Left() < n)
        return false;
    if (n == 0)
        return true;  // p may be the null data() of an empty vector
    std::memcpy(p, m_data.data() + m_pos, n);
    m_pos += n;
    return true;
}

bool CResultReader::String(std::string* s)
{
    uint32_t n = 0;
    if (!Value(&n) || Left() < n)
        return false;
    s->assign(m_data.data() + m_pos, n);
    m_pos += n;
    return true;
}

IsolatedOutcome RunIsolated(const std::function<void(CResultWriter&, CResultWriter&)>& work, int seconds,
                            std::string* out, int* bulk)
{
    out->clear();
    *bulk = -1;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return IsolatedOutcome::failed;
    const int memory = ::memfd_create("vitrel-decoded", MFD_CLOEXEC);
    if (memory < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return IsolatedOutcome::failed;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        ::close(memory);
        return IsolatedOutcome::failed;
    }
    if (child == 0) {
        ::close(fds[0]);
        int status = 0;
        try {
            CResultWriter writer(fds[1]);
            CResultWriter data(memory);
            work(writer, data);
        } catch (...) {
            status = 2;
        }
        // No exit handlers: they belong to the parent's state.
        ::_exit(status);
    }
    ::close(fds[1]);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool timedOut = false;
    char buf[1 << 16];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, int(std::min<int64_t>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out->append(buf, size_t(n));
    }
    ::close(fds[0]);
    if (timedOut)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || ::lseek(memory, 0, SEEK_SET) != 0) {
        ::close(memory);
        return timedOut ? IsolatedOutcome::timedOut : IsolatedOutcome::failed;
    }
    *bulk = memory;
    return IsolatedOutcome::done;
}

void WriteFileError(CResultWriter& w, const CFileException& e)
{
    w.Value(int32_t(1));
    w.Value(int32_t(e.m_cause));
    w.Value(int32_t(e.m_lOsError));
    w.String(e.m_strFileName);
}

void RaiseFileError(CResultReader& in, const std::string& path)
{
    int32_t cause = 0, osError = 0;
    std::string name;
    if (!in.Value(&cause) || !in.Value(&osError) || !in.String(&name))
        throw CFileException(CFileException::recordingDamaged, -1, path);
    throw CFileException(cause, osError, name);
}
