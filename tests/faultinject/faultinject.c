/* LD_PRELOAD shim that damages reads and writes of chosen files, so that the
 * file layer and the report output can be tested against failing disks
 * without hooks in the program.
 *
 * VITREL_FAULT_PATH   substring of the path; only files opened with a
 *                     matching path afterwards are affected (an unnamed file
 *                     made with O_TMPFILE is opened by its folder's path)
 * VITREL_FAULT_MODE   comma-separated, any of
 *     eacces          open fails with EACCES
 *     eio=N           reads fail with EIO once N bytes were read from the descriptor
 *     short=N         every read and every write moves at most N bytes
 *     truncate=N      the file looks N bytes long (fstat, lseek SEEK_END, reads)
 *     slow=US         every read first sleeps US microseconds
 *     enospc=N        writes stop with ENOSPC once N bytes were written to the
 *                     descriptor (the write that crosses N is cut short)
 *     efbig=N         the same with EFBIG, as at a file-size limit
 *     write-eio=N     the same with EIO
 *     fsync-eio       fsync and fdatasync fail with EIO
 *     rename-enoent   renaming onto a matching path fails with ENOENT, as when
 *                     the folder has gone
 *
 * Both variables are read at each open, so a test program under the shim can
 * change them between cases. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

#define MAX_FDS 4096

struct fault {
    atomic_int active;
    long long eioAfter;  /* -1: never */
    long long shortMax;  /* 0: no limit */
    long long truncateTo; /* -1: real size */
    long long slowUs;
    long long writeLimit; /* -1: none */
    int writeErrno;
    int fsyncEio;
    atomic_llong done;
    atomic_llong written;
};

static struct fault g_faults[MAX_FDS];
static atomic_llong g_openCount;

/* Lets a test program see that it runs under the shim. */
int vitrel_faultinject_active(void) { return 1; }
/* Opens of matching paths since the program started. */
long long vitrel_faultinject_opens(void) { return atomic_load(&g_openCount); }

/* The next definition of name, looked up once; safe from any thread. */
#define REAL(name)                                                                    \
    static __typeof__(&name) real_##name##_slot;                                      \
    __typeof__(&name) real_##name = __atomic_load_n(&real_##name##_slot, __ATOMIC_ACQUIRE); \
    if (!real_##name) {                                                               \
        real_##name = (__typeof__(&name))dlsym(RTLD_NEXT, #name);                     \
        __atomic_store_n(&real_##name##_slot, real_##name, __ATOMIC_RELEASE);         \
    }

static long long Option(const char* mode, const char* key)
{
    const size_t n = strlen(key);
    for (const char* p = mode; p && *p;) {
        if (strncmp(p, key, n) == 0 && (p[n] == '=' || p[n] == ',' || p[n] == 0))
            return p[n] == '=' ? atoll(p + n + 1) : 1;
        p = strchr(p, ',');
        if (p)
            ++p;
    }
    return -1;
}

/* The fault mode when path matches, else NULL. */
static const char* ModeFor(const char* path)
{
    const char* want = getenv("VITREL_FAULT_PATH");
    const char* mode = getenv("VITREL_FAULT_MODE");
    if (!path || !want || !*want || !mode || !strstr(path, want))
        return NULL;
    return mode;
}

/* Returns 1 when the open must fail with EACCES; fills *f for the new descriptor. */
static int Match(const char* path, struct fault* f)
{
    const char* mode = ModeFor(path);
    if (!mode)
        return -1;
    atomic_fetch_add(&g_openCount, 1);
    if (Option(mode, "eacces") > 0)
        return 1;
    f->eioAfter = Option(mode, "eio");
    f->shortMax = Option(mode, "short");
    if (f->shortMax < 0)
        f->shortMax = 0;
    f->truncateTo = Option(mode, "truncate");
    f->slowUs = Option(mode, "slow");
    static const struct {
        const char* key;
        int err;
    } limits[] = {{"enospc", ENOSPC}, {"efbig", EFBIG}, {"write-eio", EIO}};
    f->writeLimit = -1;
    f->writeErrno = 0;
    for (size_t i = 0; i < sizeof limits / sizeof limits[0]; ++i) {
        const long long n = Option(mode, limits[i].key);
        if (n >= 0) {
            f->writeLimit = n;
            f->writeErrno = limits[i].err;
        }
    }
    f->fsyncEio = Option(mode, "fsync-eio") > 0;
    return 0;
}

static int Track(int fd, const struct fault* f)
{
    if (fd < 0 || fd >= MAX_FDS)
        return fd;
    struct fault* slot = &g_faults[fd];
    slot->eioAfter = f->eioAfter;
    slot->shortMax = f->shortMax;
    slot->truncateTo = f->truncateTo;
    slot->slowUs = f->slowUs;
    slot->writeLimit = f->writeLimit;
    slot->writeErrno = f->writeErrno;
    slot->fsyncEio = f->fsyncEio;
    atomic_store(&slot->done, 0);
    atomic_store(&slot->written, 0);
    atomic_store(&slot->active, 1);
    return fd;
}

static struct fault* Tracked(int fd)
{
    if (fd < 0 || fd >= MAX_FDS || !atomic_load(&g_faults[fd].active))
        return NULL;
    return &g_faults[fd];
}

static int OpenAt(int dirfd, const char* path, int flags, mode_t mode, int at)
{
    struct fault f;
    const int m = Match(path, &f);
    if (m == 1) {
        errno = EACCES;
        return -1;
    }
    int fd;
    if (at) {
        REAL(openat);
        fd = real_openat(dirfd, path, flags, mode);
    } else {
        REAL(open);
        fd = real_open(path, flags, mode);
    }
    return m == 0 ? Track(fd, &f) : fd;
}

static mode_t ModeArg(int flags, va_list ap)
{
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(ap, int) : 0;
}

int open(const char* path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = ModeArg(flags, ap);
    va_end(ap);
    return OpenAt(AT_FDCWD, path, flags, mode, 0);
}

int open64(const char* path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = ModeArg(flags, ap);
    va_end(ap);
    return OpenAt(AT_FDCWD, path, flags, mode, 0);
}

int openat(int dirfd, const char* path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = ModeArg(flags, ap);
    va_end(ap);
    return OpenAt(dirfd, path, flags, mode, 1);
}

int openat64(int dirfd, const char* path, int flags, ...)
{
    va_list ap;
    va_start(ap, flags);
    const mode_t mode = ModeArg(flags, ap);
    va_end(ap);
    return OpenAt(dirfd, path, flags, mode, 1);
}

int close(int fd)
{
    REAL(close);
    if (fd >= 0 && fd < MAX_FDS)
        atomic_store(&g_faults[fd].active, 0);
    return real_close(fd);
}

/* How many of count bytes at offset a damaged read may deliver; -1 with errno set to fail. */
static ssize_t Allowed(struct fault* f, off_t offset, size_t count)
{
    if (f->slowUs > 0)
        usleep((useconds_t)f->slowUs);
    if (f->truncateTo >= 0) {
        if (offset >= f->truncateTo)
            return 0;
        if ((long long)count > f->truncateTo - offset)
            count = (size_t)(f->truncateTo - offset);
    }
    if (f->shortMax > 0 && (long long)count > f->shortMax)
        count = (size_t)f->shortMax;
    if (f->eioAfter >= 0) {
        const long long done = atomic_load(&f->done);
        if (done >= f->eioAfter && count > 0) {
            errno = EIO;
            return -1;
        }
        if ((long long)count > f->eioAfter - done)
            count = (size_t)(f->eioAfter - done);
    }
    return (ssize_t)count;
}

ssize_t read(int fd, void* buf, size_t count)
{
    REAL(read);
    REAL(lseek);
    struct fault* f = Tracked(fd);
    if (!f)
        return real_read(fd, buf, count);
    const off_t at = f->truncateTo >= 0 ? real_lseek(fd, 0, SEEK_CUR) : 0;
    const ssize_t allowed = Allowed(f, at, count);
    if (allowed <= 0)
        return allowed;
    const ssize_t n = real_read(fd, buf, (size_t)allowed);
    if (n > 0)
        atomic_fetch_add(&f->done, n);
    return n;
}

ssize_t pread(int fd, void* buf, size_t count, off_t offset)
{
    REAL(pread);
    struct fault* f = Tracked(fd);
    if (!f)
        return real_pread(fd, buf, count, offset);
    const ssize_t allowed = Allowed(f, offset, count);
    if (allowed <= 0)
        return allowed;
    const ssize_t n = real_pread(fd, buf, (size_t)allowed, offset);
    if (n > 0)
        atomic_fetch_add(&f->done, n);
    return n;
}

ssize_t pread64(int fd, void* buf, size_t count, off_t offset) { return pread(fd, buf, count, offset); }

/* How many of count bytes a damaged write may take; -1 with errno set to fail. */
static ssize_t WriteAllowed(struct fault* f, size_t count)
{
    if (f->shortMax > 0 && (long long)count > f->shortMax)
        count = (size_t)f->shortMax;
    if (f->writeLimit >= 0) {
        const long long done = atomic_load(&f->written);
        if (done >= f->writeLimit && count > 0) {
            errno = f->writeErrno;
            return -1;
        }
        if ((long long)count > f->writeLimit - done)
            count = (size_t)(f->writeLimit - done);
    }
    return (ssize_t)count;
}

ssize_t write(int fd, const void* buf, size_t count)
{
    REAL(write);
    struct fault* f = Tracked(fd);
    if (!f)
        return real_write(fd, buf, count);
    const ssize_t allowed = WriteAllowed(f, count);
    if (allowed <= 0)
        return allowed;
    const ssize_t n = real_write(fd, buf, (size_t)allowed);
    if (n > 0)
        atomic_fetch_add(&f->written, n);
    return n;
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset)
{
    REAL(pwrite);
    struct fault* f = Tracked(fd);
    if (!f)
        return real_pwrite(fd, buf, count, offset);
    const ssize_t allowed = WriteAllowed(f, count);
    if (allowed <= 0)
        return allowed;
    const ssize_t n = real_pwrite(fd, buf, (size_t)allowed, offset);
    if (n > 0)
        atomic_fetch_add(&f->written, n);
    return n;
}

ssize_t pwrite64(int fd, const void* buf, size_t count, off_t offset) { return pwrite(fd, buf, count, offset); }

/* A damaged gathered write takes what it may of the first buffer: a legal short write. */
ssize_t writev(int fd, const struct iovec* iov, int iovcnt)
{
    REAL(writev);
    struct fault* f = Tracked(fd);
    if (!f || iovcnt <= 0)
        return real_writev(fd, iov, iovcnt);
    return write(fd, iov[0].iov_base, iov[0].iov_len);
}

int fsync(int fd)
{
    REAL(fsync);
    struct fault* f = Tracked(fd);
    if (f && f->fsyncEio) {
        errno = EIO;
        return -1;
    }
    return real_fsync(fd);
}

int fdatasync(int fd)
{
    REAL(fdatasync);
    struct fault* f = Tracked(fd);
    if (f && f->fsyncEio) {
        errno = EIO;
        return -1;
    }
    return real_fdatasync(fd);
}

static int RenameFails(const char* to)
{
    const char* mode = ModeFor(to);
    if (mode && Option(mode, "rename-enoent") > 0) {
        errno = ENOENT;
        return 1;
    }
    return 0;
}

int rename(const char* from, const char* to)
{
    REAL(rename);
    return RenameFails(to) ? -1 : real_rename(from, to);
}

int renameat(int fromdir, const char* from, int todir, const char* to)
{
    REAL(renameat);
    return RenameFails(to) ? -1 : real_renameat(fromdir, from, todir, to);
}

off_t lseek(int fd, off_t offset, int whence)
{
    REAL(lseek);
    struct fault* f = Tracked(fd);
    if (f && f->truncateTo >= 0 && whence == SEEK_END)
        return real_lseek(fd, (off_t)f->truncateTo + offset, SEEK_SET);
    return real_lseek(fd, offset, whence);
}

off_t lseek64(int fd, off_t offset, int whence) { return lseek(fd, offset, whence); }

static void Shrink(int fd, struct stat* st)
{
    struct fault* f = Tracked(fd);
    if (f && f->truncateTo >= 0 && st->st_size > f->truncateTo)
        st->st_size = (off_t)f->truncateTo;
}

int fstat(int fd, struct stat* st)
{
    REAL(fstat);
    const int r = real_fstat(fd, st);
    if (r == 0)
        Shrink(fd, st);
    return r;
}

int fstat64(int fd, struct stat64* st)
{
    REAL(fstat64);
    const int r = real_fstat64(fd, st);
    if (r == 0)
        Shrink(fd, (struct stat*)st);
    return r;
}

/* Sanitizer runtimes reach fstat through the older glibc entry points. */
int __fxstat(int ver, int fd, struct stat* st);
int __fxstat64(int ver, int fd, struct stat64* st);

int __fxstat(int ver, int fd, struct stat* st)
{
    REAL(__fxstat);
    const int r = real___fxstat(ver, fd, st);
    if (r == 0)
        Shrink(fd, st);
    return r;
}

int __fxstat64(int ver, int fd, struct stat64* st)
{
    REAL(__fxstat64);
    const int r = real___fxstat64(ver, fd, st);
    if (r == 0)
        Shrink(fd, (struct stat*)st);
    return r;
}
