#include "recording/Time.h"

#include <ctime>

CTimeException::CTimeException(int32_t code)
    : std::runtime_error(code == E_INVALIDARG_CODE ? "time cannot be represented" : "calendar field out of range"),
      m_hr(code)
{
}

CTime::CTime(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59)
        throw CTimeException(CTimeException::E_FAIL_CODE);
    std::tm tm {};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    const time_t t = std::mktime(&tm);
    if (t == static_cast<time_t>(-1))
        throw CTimeException(CTimeException::E_INVALIDARG_CODE);
    m_time = static_cast<int64_t>(t);
}

LocalFields CTime::GetLocalFields() const
{
    LocalFields f;
    const time_t t = static_cast<time_t>(m_time);
    std::tm tm {};
    if (localtime_r(&t, &tm) == nullptr)
        return f;
    f.year = tm.tm_year + 1900;
    f.month = tm.tm_mon + 1;
    f.day = tm.tm_mday;
    f.hour = tm.tm_hour;
    f.minute = tm.tm_min;
    f.second = tm.tm_sec;
    f.valid = true;
    return f;
}
