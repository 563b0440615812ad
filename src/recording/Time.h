// Calendar time as 64-bit seconds since 1970-01-01 00:00:00 UTC, built from
// and broken down into local calendar fields (TZ decides).
#pragma once

#include <cstdint>
#include <stdexcept>

// Raised when calendar fields are out of range (E_FAIL) or the time cannot
// be represented (E_INVALIDARG).
class CTimeException : public std::runtime_error {
public:
    static constexpr int32_t E_FAIL_CODE = static_cast<int32_t>(0x80004005u);
    static constexpr int32_t E_INVALIDARG_CODE = static_cast<int32_t>(0x80070057u);
    explicit CTimeException(int32_t code);
    int32_t m_hr;
};

struct LocalFields {
    int year = 0, month = 0, day = 0, hour = -1, minute = -1, second = -1;
    bool valid = false;
};

class CTime {
public:
    CTime() = default;
    explicit CTime(int64_t t) : m_time(t) {}
    // Local calendar fields; a day beyond the month's end rolls over.
    // Raises CTimeException when a field is out of range.
    CTime(int year, int month, int day, int hour, int minute, int second);

    int64_t GetTime() const { return m_time; }
    // Local calendar fields; on failure year/month/day are 0 and the clock fields -1.
    LocalFields GetLocalFields() const;
    int GetHour() const { return GetLocalFields().hour; }
    int GetMinute() const { return GetLocalFields().minute; }

    CTime operator+(int64_t seconds) const { return CTime(m_time + seconds); }
    bool operator==(const CTime& o) const = default;

private:
    int64_t m_time = 0;
};
