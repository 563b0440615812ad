#include "support/Programs.h"

#include <cstring>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "support/Recordings.h"
#include "support/TempDir.h"

extern char** environ;

namespace testsupport {

namespace {

std::string NameOf(const std::string& entry)
{
    return entry.substr(0, entry.find('='));
}

}  // namespace

ProgramRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                      const std::vector<std::string>& env, const std::function<void()>& during,
                      std::chrono::seconds timeout)
{
    std::vector<std::string> argStore{program};
    argStore.insert(argStore.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        bool replaced = entry.rfind("VITREL_FAULT_", 0) == 0;
        for (const std::string& extra : env)
            replaced = replaced || NameOf(extra) == NameOf(entry);
        if (!replaced)
            envStore.push_back(entry);
    }
    envStore.insert(envStore.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    // Files rather than pipes: nothing has to be read while the program runs.
    TempDir dir;
    const std::string out = dir.Path("out"), err = dir.Path("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    ProgramRun run;
    const int rc = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return run;
    if (during)
        during();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            run.hung = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = ReadWholeFile(out);
    run.err = ReadWholeFile(err);
    return run;
}

ProgramRun RunSynth(const std::vector<std::string>& args)
{
    return RunProgram(VITREL_SYNTH_EXE, args);
}

ProgramRun RunAnalyze(const std::vector<std::string>& args, const std::vector<std::string>& env,
                      const std::function<void()>& during)
{
    return RunProgram(VITREL_ANALYZE_EXE, args, env, during);
}

std::string SynthRecording(const std::vector<std::string>& args)
{
    const ProgramRun run = RunSynth(args);
    if (run.status != 0)
        return {};
    return run.out.substr(0, run.out.find('\n'));
}

}  // namespace testsupport
