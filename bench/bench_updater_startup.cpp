// Start-up of the updater: from spawning the process to its window's first
// paint on the offscreen platform, one process per iteration.

#include <benchmark/benchmark.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace {

void BM_StartupToShownWindow(benchmark::State& state) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("QT_QPA_PLATFORM=", 0) != 0) {
            env.emplace_back(*e);
        }
    }
    env.emplace_back("QT_QPA_PLATFORM=offscreen");
    std::vector<char*> envp;
    for (auto& e : env) {
        envp.push_back(e.data());
    }
    envp.push_back(nullptr);

    for (auto _ : state) {
        int out[2];
        if (::pipe(out) != 0) {
            state.SkipWithError("pipe failed");
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        char path[] = CORVANE_STARTUP_PROBE;
        char* argv[] = {path, nullptr};

        const auto start = std::chrono::steady_clock::now();
        pid_t pid = 0;
        const int spawned = posix_spawn(&pid, path, &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        char line[16] = {};
        FILE* reader = ::fdopen(out[0], "r");
        const bool shown = spawned == 0 && std::fgets(line, sizeof line, reader) != nullptr &&
                           std::string(line) == "shown\n";
        const auto end = std::chrono::steady_clock::now();
        std::fclose(reader);
        if (spawned == 0) {
            ::waitpid(pid, nullptr, 0);
        }
        if (!shown) {
            state.SkipWithError("the probe showed no window");
            return;
        }
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
}

BENCHMARK(BM_StartupToShownWindow)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(10)
    ->Unit(benchmark::kMillisecond);

}  // namespace
