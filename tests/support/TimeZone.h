// Sets TZ for the lifetime of the object; clock fields and minute grouping follow it.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

namespace testsupport {

class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz)
    {
        if (const char* old = std::getenv("TZ")) {
            m_bHadOld = true;
            m_strOld = old;
        }
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ScopedTimeZone()
    {
        if (m_bHadOld)
            ::setenv("TZ", m_strOld.c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    ScopedTimeZone(const ScopedTimeZone&) = delete;
    ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

private:
    bool m_bHadOld = false;
    std::string m_strOld;
};

}  // namespace testsupport
