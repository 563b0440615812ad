#include "formats/ChildSandbox.h"

#include "recording/File.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iconv.h>
#include <linux/close_range.h>
#include <poll.h>
#include <pwd.h>
#include <seccomp.h>
#include <sstream>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <ucontext.h>
#include <unistd.h>

#if !defined(__x86_64__)
#error "the child sandbox emulates file system calls with x86-64 registers"
#endif

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VITREL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VITREL_SANITIZED 1
#endif
#endif

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

namespace {

// Decoded samples go to the in-memory file; no recording comes near this.
constexpr rlim_t kMaxResultBytes = rlim_t(2) << 30;
// Address space the child may add to what it inherits, besides its inputs.
[[maybe_unused]] constexpr rlim_t kSpareAddressSpace = rlim_t(4) << 30;
constexpr int kMaxReadable = 32;

// The child's table of files it may open. Filled after fork, before the
// filter, and read by the signal handler, so plain arrays only.
struct Readable {
    char path[PATH_MAX];
    int fd;     // opened before the filter, or -1
    int error;  // when fd is -1: what opening it gave
};
Readable g_readable[kMaxReadable];
int g_readableCount = 0;
char g_cwd[PATH_MAX];

// Joins a relative path to the working folder and folds "//", "/./" and
// "x/..", without touching the file system (the handler may not).
bool Normalize(const char* path, char* out, size_t cap)
{
    char joined[2 * PATH_MAX];
    size_t n = 0;
    const auto put = [&](const char* s) {
        for (; *s; ++s) {
            if (n + 1 >= sizeof joined)
                return false;
            joined[n++] = *s;
        }
        return true;
    };
    if (path[0] != '/' && !(put(g_cwd) && put("/")))
        return false;
    if (!put(path))
        return false;
    joined[n] = '\0';
    size_t o = 0;
    for (size_t i = 0; i < n;) {
        while (i < n && joined[i] == '/')
            ++i;
        size_t e = i;
        while (e < n && joined[e] != '/')
            ++e;
        const size_t len = e - i;
        if (len == 0 || (len == 1 && joined[i] == '.')) {
        } else if (len == 2 && joined[i] == '.' && joined[i + 1] == '.') {
            while (o > 0 && out[o - 1] != '/')
                --o;
            if (o > 0)
                --o;
        } else {
            if (o + 1 + len + 1 > cap)
                return false;
            out[o++] = '/';
            std::memcpy(out + o, joined + i, len);
            o += len;
        }
        i = e;
    }
    if (o == 0)
        out[o++] = '/';
    out[o] = '\0';
    return true;
}

const Readable* Find(long dirfd, const char* path)
{
    char want[PATH_MAX];
    if (!path || (path[0] != '/' && dirfd != AT_FDCWD) || !Normalize(path, want, sizeof want))
        return nullptr;
    for (int i = 0; i < g_readableCount; ++i)
        if (std::strcmp(g_readable[i].path, want) == 0)
            return &g_readable[i];
    return nullptr;
}

// ptrace is never allowed: the filter ends the process as it would for any
// other call outside it.
[[noreturn]] void Die()
{
    for (;;)
        ::syscall(SYS_ptrace, 0, 0, 0, 0);
}

long EmulateOpen(long dirfd, const char* path, long flags)
{
    if ((flags & O_ACCMODE) != O_RDONLY || (flags & (O_CREAT | O_TRUNC | O_APPEND | O_TMPFILE | O_PATH)))
        Die();
    const Readable* r = Find(dirfd, path);
    if (!r)
        Die();
    if (r->fd < 0)
        return -r->error;
    // Each open gets its own descriptor; they share one position, which
    // is put back at the start as a fresh open would have it.
    const long fd = ::syscall(SYS_fcntl, r->fd, (flags & O_CLOEXEC) ? F_DUPFD_CLOEXEC : F_DUPFD, 0);
    if (fd >= 0)
        ::syscall(SYS_lseek, fd, 0, SEEK_SET);
    return fd;
}

long EmulateStat(long dirfd, const char* path, long buf, long flags)
{
    if (path && path[0] == '\0' && (flags & AT_EMPTY_PATH))
        return ::syscall(SYS_fstat, dirfd, buf);
    const Readable* r = Find(dirfd, path);
    if (!r)
        return -ENOENT;
    return r->fd < 0 ? -r->error : ::syscall(SYS_fstat, r->fd, buf);
}

long EmulateAccess(long dirfd, const char* path, long mode)
{
    const Readable* r = Find(dirfd, path);
    if (!r)
        return -ENOENT;
    if (r->fd < 0)
        return -r->error;
    return (mode & (W_OK | X_OK)) ? -EACCES : 0;
}

// Path-based calls trap here: they are answered from the table of opened
// inputs, so the child never reaches the file system.
void OnTrappedCall(int, siginfo_t* info, void* context)
{
    greg_t* r = static_cast<ucontext_t*>(context)->uc_mcontext.gregs;
    const auto str = [](greg_t v) { return reinterpret_cast<const char*>(v); };
    // Descriptors and flags are ints: the upper half of their registers is not theirs.
    const auto num = [](greg_t v) { return long(int(v)); };
    long result;
    switch (info->si_syscall) {
    case SYS_open: result = EmulateOpen(AT_FDCWD, str(r[REG_RDI]), num(r[REG_RSI])); break;
    case SYS_openat: result = EmulateOpen(num(r[REG_RDI]), str(r[REG_RSI]), num(r[REG_RDX])); break;
    case SYS_stat:
    case SYS_lstat: result = EmulateStat(AT_FDCWD, str(r[REG_RDI]), r[REG_RSI], 0); break;
    case SYS_newfstatat: result = EmulateStat(num(r[REG_RDI]), str(r[REG_RSI]), r[REG_RDX], num(r[REG_R10])); break;
    case SYS_access: result = EmulateAccess(AT_FDCWD, str(r[REG_RDI]), num(r[REG_RSI])); break;
    case SYS_faccessat:
    case SYS_faccessat2: result = EmulateAccess(num(r[REG_RDI]), str(r[REG_RSI]), num(r[REG_RDX])); break;
    case SYS_statx: result = -ENOSYS; break;  // callers fall back to stat
    default: Die();
    }
    r[REG_RAX] = result;
}

void OpenReadable(const std::vector<std::string>& paths)
{
    if (!::getcwd(g_cwd, sizeof g_cwd))
        g_cwd[0] = '\0';
    g_readableCount = 0;
    for (const std::string& p : paths) {
        if (g_readableCount == kMaxReadable)
            break;
        Readable& r = g_readable[g_readableCount];
        if (!Normalize(p.c_str(), r.path, sizeof r.path))
            continue;
        // Non-blocking, so that a named pipe given as an input cannot hold the child.
        r.fd = ::open(p.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        r.error = r.fd < 0 ? errno : 0;
        if (r.fd >= 0)
            ::fcntl(r.fd, F_SETFL, 0);
        ++g_readableCount;
    }
}

// Everything the parent had open is the parent's business.
void CloseOtherDescriptors(std::vector<int> keep)
{
    keep.insert(keep.end(), {0, 1, 2});
    std::sort(keep.begin(), keep.end());
    int from = 0;
    for (int fd : keep) {
        if (fd > from)
            ::close_range(unsigned(from), unsigned(fd - 1), 0);
        from = std::max(from, fd + 1);
    }
    ::close_range(unsigned(from), ~0u, 0);
}

void Limit(int resource, rlim_t value)
{
    const rlimit limit{value, value};
    ::setrlimit(resource, &limit);
}

void SetLimits(int seconds, int highestFd)
{
    Limit(RLIMIT_CORE, 0);
    const rlimit cpu{rlim_t(seconds) + 1, rlim_t(seconds) + 2};
    ::setrlimit(RLIMIT_CPU, &cpu);
    Limit(RLIMIT_FSIZE, kMaxResultBytes);
    Limit(RLIMIT_NOFILE, rlim_t(highestFd) + 16);
#ifndef VITREL_SANITIZED
    // A sanitizer's shadow memory alone is far beyond any such limit.
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    rlim_t inputs = 0;
    for (int i = 0; i < g_readableCount; ++i) {
        struct stat st {};
        if (g_readable[i].fd >= 0 && ::fstat(g_readable[i].fd, &st) == 0)
            inputs += rlim_t(st.st_size);
    }
    if (pages > 0)
        Limit(RLIMIT_AS, rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + kSpareAddressSpace + 4 * inputs);
#endif
}

scmp_arg_cmp Arg(unsigned arg, scmp_compare op, scmp_datum_t a, scmp_datum_t b = 0)
{
    return scmp_arg_cmp{arg, op, a, b};
}

bool Allow(scmp_filter_ctx ctx, int call)
{
    return seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, 0) == 0;
}

// Reading its inputs, memory, its results, the time, exiting: nothing else.
bool LoadFilter(const std::vector<int>& outputs)
{
    scmp_filter_ctx ctx = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (!ctx)
        return false;
    bool ok = true;
    for (int call : {SCMP_SYS(read), SCMP_SYS(readv), SCMP_SYS(pread64), SCMP_SYS(preadv), SCMP_SYS(lseek),
                     SCMP_SYS(fstat), SCMP_SYS(close), SCMP_SYS(brk), SCMP_SYS(munmap), SCMP_SYS(mremap),
                     SCMP_SYS(madvise), SCMP_SYS(futex), SCMP_SYS(clock_gettime), SCMP_SYS(gettimeofday),
                     SCMP_SYS(getpid), SCMP_SYS(gettid), SCMP_SYS(getuid), SCMP_SYS(geteuid), SCMP_SYS(getgid),
                     SCMP_SYS(getegid), SCMP_SYS(getrandom), SCMP_SYS(rt_sigreturn), SCMP_SYS(rt_sigprocmask),
                     SCMP_SYS(restart_syscall), SCMP_SYS(exit), SCMP_SYS(exit_group)})
        ok = ok && Allow(ctx, call);
    // No executable memory: decoded data never becomes code.
    for (int call : {SCMP_SYS(mmap), SCMP_SYS(mprotect)})
        ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, 1, Arg(2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) == 0;
    for (int cmd : {F_GETFL, F_SETFL, F_GETFD, F_SETFD, F_DUPFD, F_DUPFD_CLOEXEC})
        ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(fcntl), 1, Arg(1, SCMP_CMP_EQ, scmp_datum_t(cmd))) == 0;
    // Writes go to the results and to standard error (library warnings,
    // sanitizer reports); standard output was pointed there too.
#ifdef VITREL_SANITIZED
    // The undefined-behaviour checks probe memory by writing it into a pipe
    // of their own, so a sanitized child may make pipes and write to any of
    // its descriptors (it still opens nothing).
    (void)outputs;
    for (int call : {SCMP_SYS(write), SCMP_SYS(writev), SCMP_SYS(pipe), SCMP_SYS(pipe2)})
        ok = ok && Allow(ctx, call);
#else
    for (int fd : outputs)
        for (int call : {SCMP_SYS(write), SCMP_SYS(writev)})
            ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, call, 1, Arg(0, SCMP_CMP_EQ, scmp_datum_t(fd))) == 0;
#endif
    for (int call : {SCMP_SYS(open), SCMP_SYS(openat), SCMP_SYS(stat), SCMP_SYS(lstat), SCMP_SYS(newfstatat),
                     SCMP_SYS(access), SCMP_SYS(faccessat), SCMP_SYS(faccessat2), SCMP_SYS(statx)})
        ok = ok && seccomp_rule_add(ctx, SCMP_ACT_TRAP, call, 0) == 0;
    // The C library's probe for a name-service daemon fails; any other socket ends the child.
    ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ERRNO(EACCES), SCMP_SYS(socket), 2, Arg(0, SCMP_CMP_EQ, AF_UNIX),
                                Arg(1, SCMP_CMP_EQ, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK)) == 0;
#ifdef VITREL_SANITIZED
    // The sanitizer runtimes' own housekeeping.
    // ThreadSanitizer's background thread, started at the fork, registers
    // itself (rseq) as the filter goes on.
    for (int call : {SCMP_SYS(sched_yield), SCMP_SYS(nanosleep), SCMP_SYS(clock_nanosleep), SCMP_SYS(sigaltstack),
                     SCMP_SYS(rt_sigaction), SCMP_SYS(prctl), SCMP_SYS(getrusage), SCMP_SYS(rseq), SCMP_SYS(set_robust_list)})
        ok = ok && Allow(ctx, call);
    ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(ioctl), 1, Arg(1, SCMP_CMP_EQ, TCGETS)) == 0;
    // Reading a limit, never setting one.
    ok = ok && seccomp_rule_add(ctx, SCMP_ACT_ALLOW, SCMP_SYS(prlimit64), 2, Arg(0, SCMP_CMP_EQ, 0),
                                Arg(2, SCMP_CMP_EQ, 0)) == 0;
#endif
    ok = ok && seccomp_attr_set(ctx, SCMP_FLTATR_CTL_TSYNC, 1) == 0;
    ok = ok && seccomp_load(ctx) == 0;
    seccomp_release(ctx);
    return ok;
}

// In the child, before the work: only the given inputs and outputs stay
// open, and the filter goes on. False if it could not be set up.
bool EnterSandbox(const std::vector<std::string>& readable, int pipe, int memory, int seconds)
{
    // The C library checks the time zone file each time it converts a time,
    // and BioSig looks the user up: those system files (readable by anyone)
    // stay open, the lookup's modules are loaded now.
    std::vector<std::string> files = readable;
    files.insert(files.end(), {"/etc/localtime", "/etc/nsswitch.conf", "/etc/passwd", "/etc/group"});
#ifdef VITREL_SANITIZED
    files.push_back("/proc/self/maps");  // the sanitizer runtimes read their memory map
#endif
    OpenReadable(files);
    ::tzset();
    ::getpwuid(::geteuid());
    // BioSig converts header texts with iconv; the C library's table of
    // character sets (and the one module kept open here) load now too.
    for (const char* from : {"ASCII", "ISO-8859-1"})
        ::iconv_open("UTF-8", from);
    ::dup2(2, 1);
    std::vector<int> keep{pipe, memory};
    for (int i = 0; i < g_readableCount; ++i)
        if (g_readable[i].fd >= 0)
            keep.push_back(g_readable[i].fd);
    CloseOtherDescriptors(keep);
    SetLimits(seconds, *std::max_element(keep.begin(), keep.end()));
    struct sigaction trap {};
    trap.sa_sigaction = OnTrappedCall;
    trap.sa_flags = SA_SIGINFO;
    sigemptyset(&trap.sa_mask);
    if (::sigaction(SIGSYS, &trap, nullptr) != 0 || ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return false;
    return LoadFilter({pipe, memory, 1, 2});
}

}  // namespace

namespace {

// Where the helper finds its result pipe and in-memory file.
constexpr int kPipeFd = 3;
constexpr int kMemoryFd = 4;
constexpr const char* kHelperName = "vitrel-decode";

struct Channels {
    int read = -1, write = -1, memory = -1;
    void Close()
    {
        for (int* fd : {&read, &write, &memory})
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
    }
};

bool OpenChannels(Channels* c)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    c->read = fds[0];
    c->write = fds[1];
    c->memory = ::memfd_create("vitrel-decoded", MFD_CLOEXEC);
    if (c->memory < 0) {
        c->Close();
        return false;
    }
    return true;
}

// The parent's side: collects what the child writes until it closes its
// pipe or the deadline passes, then reaps it.
SandboxOutcome Await(pid_t child, Channels c, int seconds, std::string* out, int* bulk)
{
    ::close(c.write);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    bool timedOut = false;
    char buf[1 << 16];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{c.read, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(std::min<int64_t>(left.count(), 1000)));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        const ssize_t n = ::read(c.read, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        out->append(buf, size_t(n));
    }
    ::close(c.read);
    if (timedOut)
        ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0 || ::lseek(c.memory, 0, SEEK_SET) != 0) {
        ::close(c.memory);
        if (timedOut)
            return SandboxOutcome::timedOut;
        return WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS ? SandboxOutcome::forbidden : SandboxOutcome::failed;
    }
    *bulk = c.memory;
    return SandboxOutcome::done;
}

}  // namespace

SandboxOutcome RunInChildSandbox(const std::vector<std::string>& readable,
                                 const std::function<void(CResultWriter&, CResultWriter&)>& work, int seconds,
                                 std::string* out, int* bulk)
{
    out->clear();
    *bulk = -1;
    Channels c;
    if (!OpenChannels(&c))
        return SandboxOutcome::failed;
    const pid_t child = ::fork();
    if (child < 0) {
        c.Close();
        return SandboxOutcome::failed;
    }
    if (child == 0) {
        ::close(c.read);
        if (!EnterSandbox(readable, c.write, c.memory, seconds))
            ::_exit(4);
        int status = 0;
        try {
            CResultWriter writer(c.write);
            CResultWriter data(c.memory);
            work(writer, data);
        } catch (...) {
            status = 2;
        }
        // No exit handlers: they belong to the parent's state.
        ::_exit(status);
    }
    return Await(child, c, seconds, out, bulk);
}

SandboxOutcome RunSandboxJob(const std::vector<std::string>& readable, const SandboxJob& job,
                             const std::vector<std::string>& args, int seconds, std::string* out, int* bulk)
{
    const std::string& helper = DecodeHelperPath();
    if (helper.empty() && !job.work) {
        std::fprintf(stderr, "vitrel: the decode helper vitrel-decode is missing\n");
        return SandboxOutcome::failed;
    }
    if (helper.empty())
        return RunInChildSandbox(
            readable, [&](CResultWriter& w, CResultWriter& data) { job.work(args, w, data); }, seconds, out, bulk);
    out->clear();
    *bulk = -1;

    // Everything the child needs is made now: between fork and exec it may
    // only make system calls (another thread may hold the allocator's lock).
    std::vector<std::string> words{helper, job.name, std::to_string(seconds), std::to_string(readable.size())};
    words.insert(words.end(), readable.begin(), readable.end());
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    char** const envp = environ;
    sigset_t none;
    sigemptyset(&none);

    Channels c;
    if (!OpenChannels(&c))
        return SandboxOutcome::failed;
    // Both above the helper's fixed descriptors, so moving one there never
    // lands on the other.
    for (int* fd : {&c.write, &c.memory}) {
        const int high = ::fcntl(*fd, F_DUPFD_CLOEXEC, kMemoryFd + 1);
        ::close(*fd);
        *fd = high;
    }
    if (c.write < 0 || c.memory < 0) {
        c.Close();
        return SandboxOutcome::failed;
    }
    const pid_t child = ::fork();
    if (child < 0) {
        c.Close();
        return SandboxOutcome::failed;
    }
    if (child == 0) {
        if (::dup2(c.write, kPipeFd) < 0 || ::dup2(c.memory, kMemoryFd) < 0)
            ::_exit(4);
        ::close_range(kMemoryFd + 1, ~0u, 0);
        // The calling thread's blocked signals would carry over (SIGSYS among them).
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::execve(argv[0], argv.data(), envp);
        ::_exit(4);
    }
    return Await(child, c, seconds, out, bulk);
}

std::string FindDecodeHelper(const std::string& executable)
{
    const std::filesystem::path dir = std::filesystem::path(executable).parent_path();
    std::vector<std::filesystem::path> candidates{dir / kHelperName, dir.parent_path() / kHelperName,
                                                  dir.parent_path() / "libexec" / "vitrel-ecg" / kHelperName};
#ifdef VITREL_DECODE_HELPER_BUILD_DIR
    candidates.push_back(std::filesystem::path(VITREL_DECODE_HELPER_BUILD_DIR) / kHelperName);
#endif
    for (const std::filesystem::path& p : candidates) {
        std::error_code error;
        if (std::filesystem::is_regular_file(p, error) && ::access(p.c_str(), X_OK) == 0)
            return p.string();
    }
    return {};
}

const std::string& DecodeHelperPath()
{
    static const std::string path = [] {
        std::error_code error;
        const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
        return error ? std::string() : FindDecodeHelper(self.string());
    }();
    return path;
}

int RunSandboxJobMain(int argc, char** argv, const std::vector<SandboxJob>& jobs)
{
    // job, seconds, count, that many readable files, the job's arguments
    if (argc < 4 || ::fcntl(kPipeFd, F_GETFD) < 0 || ::fcntl(kMemoryFd, F_GETFD) < 0)
        return 64;
    const auto job = std::find_if(jobs.begin(), jobs.end(),
                                  [&](const SandboxJob& j) { return std::strcmp(j.name, argv[1]) == 0; });
    char* end = nullptr;
    const long seconds = std::strtol(argv[2], &end, 10);
    const bool secondsOk = *end == '\0' && seconds > 0 && seconds < 86400;
    const long count = std::strtol(argv[3], &end, 10);
    if (job == jobs.end() || !secondsOk || *end != '\0' || count < 0 || count > argc - 4)
        return 64;
    const std::vector<std::string> readable(argv + 4, argv + 4 + count);
    const std::vector<std::string> args(argv + 4 + count, argv + argc);
    if (!EnterSandbox(readable, kPipeFd, kMemoryFd, int(seconds)))
        ::_exit(4);
    int status = 0;
    try {
        CResultWriter writer(kPipeFd);
        CResultWriter data(kMemoryFd);
        job->work(args, writer, data);
    } catch (...) {
        status = 2;
    }
    // As the forked child: the exit handlers would want calls the filter ends.
    ::_exit(status);
}

std::vector<std::string> DecoderInputs(const std::string& path)
{
    std::vector<std::string> files{path};
    if (path.size() < 4 || path.compare(path.size() - 4, 4, ".hea") != 0)
        return files;
    files.push_back(path.substr(0, path.size() - 4) + ".atr");
    // The signal lines after the record line each start with their file's name.
    std::ifstream in(path);
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    std::string line;
    long signals = -1;
    for (int lines = 0; signals != 0 && std::getline(in, line) && lines < 4096; ++lines) {
        std::istringstream words(line);
        std::string first;
        if (!(words >> first) || first[0] == '#')
            continue;
        if (signals < 0) {
            if (!(words >> signals) || signals <= 0)
                break;
            continue;
        }
        --signals;
        const std::string file = first[0] == '/' ? first : folder + first;
        if (first != "~" && std::find(files.begin(), files.end(), file) == files.end())
            files.push_back(file);
    }
    return files;
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
