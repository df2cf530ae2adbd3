#include "tests/convergence/SeedBench.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

struct Child {
    std::uint64_t seed = 0;
    std::chrono::steady_clock::time_point started;
    std::string output;
};

pid_t Spawn(const std::string& program, std::uint64_t seed, const std::string& output)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const std::string seedText = std::to_string(seed);
    std::vector<std::string> args = {program, "--seed", seedText};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed ? -1 : pid;
}

double Millis(std::chrono::steady_clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

}  // namespace

SeedBench::SeedBench(std::string program, std::uint64_t first, std::uint64_t last, int jobs)
    : program_(std::move(program)), first_(first), last_(last), jobs_(std::max(1, jobs))
{
}

int SeedBench::Run()
{
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "convergence-bench";
    std::filesystem::create_directories(folder);
    const auto began = std::chrono::steady_clock::now();
    std::map<pid_t, Child> running;
    std::vector<double> times;
    std::vector<std::uint64_t> failed;
    std::uint64_t next = first_;
    while (next <= last_ || !running.empty()) {
        while (next <= last_ && int(running.size()) < jobs_) {
            Child child{next, std::chrono::steady_clock::now(), (folder / ("seed-" + std::to_string(next) + ".out")).string()};
            const pid_t pid = Spawn(program_, next, child.output);
            if (pid < 0) {
                std::printf("seed %llu: cannot start %s\n", static_cast<unsigned long long>(next), program_.c_str());
                failed.push_back(next);
            } else {
                running[pid] = child;
            }
            ++next;
        }
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, 0);
        if (pid < 0)
            break;
        const auto found = running.find(pid);
        if (found == running.end())
            continue;
        const Child child = found->second;
        running.erase(found);
        times.push_back(Millis(std::chrono::steady_clock::now() - child.started));
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
            std::filesystem::remove(child.output);
        } else {
            failed.push_back(child.seed);
            std::printf("seed %llu FAILED, output in %s\n", static_cast<unsigned long long>(child.seed),
                        child.output.c_str());
            std::fflush(stdout);
        }
    }
    std::sort(times.begin(), times.end());
    const std::uint64_t total = last_ - first_ + 1;
    std::printf("seeds %llu-%llu: %llu of %llu passed, %d jobs, %.1f s in all\n",
                static_cast<unsigned long long>(first_), static_cast<unsigned long long>(last_),
                static_cast<unsigned long long>(total - failed.size()), static_cast<unsigned long long>(total), jobs_,
                Millis(std::chrono::steady_clock::now() - began) / 1000.0);
    if (!times.empty())
        std::printf("time per seed: min %.0f ms, median %.0f ms, max %.0f ms\n", times.front(),
                    times[times.size() / 2], times.back());
    for (const std::uint64_t seed : failed)
        std::printf("failed seed: %llu\n", static_cast<unsigned long long>(seed));
    return int(failed.size());
}
