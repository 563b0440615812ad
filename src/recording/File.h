// Thin read-only file layer over POSIX with the error model of the
// recording readers: every failure raises CFileException (cause, errno, path).
#pragma once

#include <cstdint>
#include <exception>
#include <string>

class CFileException : public std::exception {
public:
    enum Cause {
        none = 0,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile,
        // Recordings of the standard formats.
        recordingDamaged = 100,
        formatUnsupported,
        leadNotFound,
        recordingTooLarge,
        recordingDiscontinuous,
    };

    CFileException(int cause = genericException, int osError = -1, std::string fileName = {});

    // Maps an errno value to the cause shown to the user.
    static int OsErrorToCause(int osError);

    // The user-visible message with the path in place of %1 (UTF-8).
    std::string GetErrorMessage() const;
    static std::string FormatMessage(int cause, const std::string& fileName);

    // The same text as GetErrorMessage(), also after the members changed.
    const char* what() const noexcept override;

    int m_cause;
    int m_lOsError;
    std::string m_strFileName;

private:
    mutable std::string m_strWhat;
};

class CFile {
public:
    // Open flags; only reading is supported.
    enum OpenFlags : unsigned {
        modeRead = 0x0000,
        shareDenyNone = 0x0040,
        typeBinary = 0x8000,
    };
    enum SeekPosition { begin = 0, current = 1, end = 2 };

    CFile() = default;
    virtual ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Returns false and fills *pError (when given) instead of raising.
    bool Open(const std::string& path, unsigned flags, CFileException* pError = nullptr);
    void Close();
    bool IsOpen() const { return m_hFile >= 0; }

    uint64_t Seek(int64_t offset, SeekPosition from);
    // Reads up to count bytes, retrying short reads; returns the bytes read (0 at end of file).
    uint32_t Read(void* buffer, uint32_t count);
    uint64_t GetLength() const;

    const std::string& GetFilePath() const { return m_strFileName; }
    // The last path component, extension included.
    std::string GetFileTitle() const;
    static std::string FileTitleOf(const std::string& path);

protected:
    [[noreturn]] void ThrowOsError(int osError) const;

    int m_hFile = -1;
    bool m_bCloseOnDelete = false;
    std::string m_strFileName;
};

// True when both paths name the same existing file: the same device and inode,
// or (when either cannot be looked up) the same canonical path. Letter case
// matters; links and "./" spellings resolve to their target.
bool IsSameFile(const std::string& a, const std::string& b);
