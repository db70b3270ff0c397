#pragma once
// The benchmarks run every measured program in a child process of its own:
// timed from start to exit, its peak resident size taken from the kernel,
// its standard output read back.
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace kv::bench {

struct ChildRun {
  std::string output;
  double seconds = 0;
  long peakKiB = 0;
};

// Runs start in a child whose standard output is the given descriptor; fails
// when the child does not exit with 0.
inline ChildRun RunChild(const std::function<void(int out)>& start) {
  using Clock = std::chrono::steady_clock;
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) throw std::runtime_error("pipe failed");
  const Clock::time_point begin = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    ::close(pipeFds[0]);
    start(pipeFds[1]);
    _exit(0);
  }
  ::close(pipeFds[1]);
  ChildRun run;
  char buffer[256];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) run.output.append(buffer, static_cast<size_t>(n));
  ::close(pipeFds[0]);
  int status = 0;
  struct rusage usage {};
  ::wait4(pid, &status, 0, &usage);
  run.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
  run.peakKiB = usage.ru_maxrss;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("child failed: " + run.output);
  return run;
}

// A program with its arguments, found on PATH; what it writes to standard
// error goes to the output too.
inline ChildRun RunTool(std::vector<std::string> args) {
  return RunChild([&](int out) {
    ::dup2(out, 1);
    ::dup2(out, 2);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execvp(argv[0], argv.data());
    _exit(127);
  });
}

// Writes all of text to the descriptor or ends the child with 1.
inline void WriteAll(int out, const std::string& text) {
  if (::write(out, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(1);
}

// Incompressible bytes (splitmix64) going on from state, so that every run
// gets the same data and no side can skip work.
inline void FillIncompressible(uint8_t* data, size_t size, uint64_t& state) {
  for (size_t at = 0; at < size; at += 8) {
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    std::memcpy(data + at, &z, std::min<size_t>(8, size - at));
  }
}

// One run of a runner: its time, its peak memory and its result (a digest,
// a last block; empty where there is nothing to compare).
struct Measured {
  double seconds = 0;
  long peakKiB = 0;
  std::string result;
};

// A measured program and its runs; the runners of one group (when it is
// not empty) must all give one result.
struct Runner {
  std::string name;
  std::string group;
  std::function<Measured()> run;
  std::vector<Measured> results;
};

// Runs every runner once a round, each round starting one runner further
// on, so that no runner always comes first.
inline void RunRounds(std::vector<Runner>& runners, int rounds) {
  for (int round = 0; round < rounds; ++round) {
    for (size_t i = 0; i < runners.size(); ++i) {
      Runner& r = runners[(i + static_cast<size_t>(round)) % runners.size()];
      r.results.push_back(r.run());
    }
  }
}

// Fails when a run of a group gave no result or another than the group's first.
inline void CheckAgreement(const std::vector<Runner>& runners) {
  std::map<std::string, std::string> resultOf;
  for (const Runner& r : runners) {
    if (r.group.empty()) continue;
    for (const Measured& m : r.results) {
      const auto [it, added] = resultOf.emplace(r.group, m.result);
      if (m.result.empty() || it->second != m.result) {
        throw std::runtime_error(r.name + " gave " + m.result + ", expected " + it->second);
      }
    }
  }
}

inline double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

// The summary of a benchmark: a line per runner with its median time, the
// throughput over mib MiB, its peak memory and a note; then ratios of the
// medians.
class Report {
 public:
  explicit Report(double mib) : mib_(mib) {}
  // Runs are anything with seconds and peakKiB.
  template <typename Runs>
  void Line(const std::string& name, const Runs& runs, const std::string& note = "") {
    std::vector<double> seconds;
    long peakKiB = 0;
    for (const auto& run : runs) {
      seconds.push_back(run.seconds);
      peakKiB = std::max(peakKiB, run.peakKiB);
    }
    const double median = median_[name] = Median(std::move(seconds));
    std::printf("  %-26s %7.3f s  %8.1f MiB/s  %8ld KiB  %s\n", name.c_str(), median, mib_ / median, peakKiB,
                note.c_str());
  }
  // Their median over ours: how much of their throughput we reach. A goal of
  // 0 reports only.
  void Ratio(const std::string& ours, const std::string& theirs, double goal) {
    const double value = median_.at(theirs) / median_.at(ours);
    std::printf("  %s / %s: %.2f%s\n", ours.c_str(), theirs.c_str(), value,
                goal == 0       ? " (reported only)"
                : value >= goal ? ""
                                : "  BELOW GOAL");
  }

 private:
  double mib_;
  std::map<std::string, double> median_;
};

}  // namespace kv::bench
