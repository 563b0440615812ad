// What the tests of the report output and the fault shim still name the
// old way; the shared helpers of tests/support do the work.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/AnalysisViews.h"
#include "support/Recordings.h"
#include "support/TempDir.h"

namespace analysis_test {

using testsupport::RecordingView;
using testsupport::WriteSamples;
using testsupport::WriteShortRecording;

class TempDir : public testsupport::TempDir {
public:
    std::string File(const std::string& name) const { return Path(name); }
};

inline void SetTimeZone(const char* tz)
{
    ::setenv("TZ", tz, 1);
    ::tzset();
}

}  // namespace analysis_test
