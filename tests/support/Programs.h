// The project's programs run from tests: vitrel-synth to make recordings,
// vitrel-analyze to check its output.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

struct ProgramRun {
    int status = -1;   // exit code; 128 + signal when killed; -1 when it could not start
    bool hung = false; // killed after the time-out
    std::string out, err;
};

// Runs program (looked up on PATH without a slash) with args. env adds or replaces environment entries
// ("NAME=value"); the fault-injection settings (VITREL_FAULT_*) of this
// process are not passed on. `during` runs while the program works.
ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {}, const std::function<void()>& during = {},
                      std::chrono::seconds timeout = std::chrono::seconds(120));

ProgramRun RunSynth(const std::vector<std::string>& args);
ProgramRun RunAnalyze(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                      const std::function<void()>& during = {});
// Runs vitrel-synth and returns the path it printed, or "" when it failed.
std::string SynthRecording(const std::vector<std::string>& args);

}  // namespace testsupport
