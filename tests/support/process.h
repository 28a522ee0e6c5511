// Child processes for the tests: started with posix_spawn, standard input
// on a pipe, standard output and error into files that are read as they
// grow.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/files.h"

namespace support
{

constexpr int default_timeout_ms = 10000;  // every wait in the suites is bounded by this
constexpr int poll_ms = 25;                // step of every polling loop

void sleep_ms(int ms);
// Polls pred every poll_ms until it holds or timeout_ms have passed.
bool wait_until(const std::function<bool()> &pred, int timeout_ms = default_timeout_ms);

using EnvVars = std::vector<std::pair<std::string, std::string>>;

// argv[0] is a path.  The child gets the test's environment without
// DISPLAY, XAUTHORITY and VELMORA_*, plus env, and SIGPIPE at its default;
// it runs in cwd if one is given.
class Child
{
      public:
	Child(std::vector<std::string> argv, const EnvVars &env = {}, const fs::path &cwd = {});
	~Child();  // kills it if it still runs
	Child(const Child &) = delete;
	Child &operator=(const Child &) = delete;

	std::string out() const { return read_file(dir_.path() / "out"); }
	std::string err() const { return read_file(dir_.path() / "err"); }
	std::string both() const { return "stdout:\n" + out() + "\nstderr:\n" + err(); }  // for failures
	// Waits until stdout satisfies pred.
	bool wait_out(const std::function<bool(const std::string &)> &pred,
	              int timeout_ms = default_timeout_ms);
	bool wait_out_size(size_t n, int timeout_ms = default_timeout_ms)
	{
		return wait_out([&](const std::string &o) { return o.size() >= n; }, timeout_ms);
	}
	bool wait_out_contains(const std::string &s, int timeout_ms = default_timeout_ms)
	{
		return wait_out([&](const std::string &o) { return o.find(s) != std::string::npos; },
		                timeout_ms);
	}

	bool write_in(std::string_view bytes) { return in_ >= 0 && write_fully(in_, bytes); }
	void close_in();

	void signal(int sig);
	bool running();
	// Waits for the end; true with its wait status in *status.
	bool wait_exit(int *status = nullptr, int timeout_ms = default_timeout_ms);
	long max_rss_kb() const { return max_rss_kb_; }  // once it ended

	// Processor time (user + system, all threads) used so far, seconds.
	double cpu_seconds() const;
	// Share of one core used over the next ms milliseconds, percent.
	double cpu_percent(int ms) const;
	// Times its main thread has slept and been woken so far.
	long wakeups() const;

      private:
	TempDir dir_;
	pid_t pid_ = -1;
	int in_ = -1;
	bool reaped_ = false;
	int status_ = 0;
	long max_rss_kb_ = 0;
};

// How a program run to its end went.
struct Outcome {
	int status = -1;  // exit status, or -1 when killed by a signal or never ended
	std::string out, err;
	long max_rss_kb = 0;
};

// Runs argv as a Child, stdin_bytes on its standard input, to its end.
Outcome run(const std::vector<std::string> &argv, const std::string &stdin_bytes = "",
            const EnvVars &env = {}, int timeout_ms = default_timeout_ms);

}  // namespace support
