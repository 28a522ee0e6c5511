#include "tests/support/process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

extern char **environ;

namespace support
{

void sleep_ms(int ms)
{
	std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

bool wait_until(const std::function<bool()> &pred, int timeout_ms)
{
	auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
	for (;;) {
		if (pred())
			return true;
		if (std::chrono::steady_clock::now() >= end)
			return false;
		sleep_ms(poll_ms);
	}
}

static std::vector<char *> pointers(std::vector<std::string> &strings)
{
	std::vector<char *> p;
	for (auto &s : strings)
		p.push_back(s.data());
	p.push_back(nullptr);
	return p;
}

Child::Child(std::vector<std::string> argv, const EnvVars &env, const fs::path &cwd)
{
	std::vector<std::string> vars;
	for (char **e = environ; *e; e++) {
		std::string_view v = *e, name = v.substr(0, v.find('='));
		if (name != "DISPLAY" && name != "XAUTHORITY" && !name.starts_with("VELMORA_") &&
		    std::none_of(env.begin(), env.end(), [&](const auto &kv) { return kv.first == name; }))
			vars.emplace_back(v);
	}
	for (const auto &[name, value] : env)
		vars.push_back(name + "=" + value);

	int in[2];
	if (pipe2(in, O_CLOEXEC)) {
		ADD_FAILURE() << "pipe: " << strerror(errno);
		return;
	}
	// The test ignores SIGPIPE (see write_fully); the child must not.
	::signal(SIGPIPE, SIG_IGN);
	posix_spawnattr_t attr;
	sigset_t pipe_signal;
	sigemptyset(&pipe_signal);
	sigaddset(&pipe_signal, SIGPIPE);
	posix_spawnattr_init(&attr);
	posix_spawnattr_setsigdefault(&attr, &pipe_signal);
	posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
	posix_spawn_file_actions_t fa;
	posix_spawn_file_actions_init(&fa);
	posix_spawn_file_actions_adddup2(&fa, in[0], 0);
	std::string out = dir_.path() / "out", err = dir_.path() / "err";
	posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
	posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
	if (!cwd.empty())
		posix_spawn_file_actions_addchdir_np(&fa, cwd.c_str());

	std::vector<char *> argp = pointers(argv), envp = pointers(vars);
	int e = posix_spawn(&pid_, argp[0], &fa, &attr, argp.data(), envp.data());
	posix_spawn_file_actions_destroy(&fa);
	posix_spawnattr_destroy(&attr);
	close(in[0]);
	in_ = in[1];
	if (e) {
		ADD_FAILURE() << "cannot start " << argv[0] << ": " << strerror(e);
		pid_ = -1;
	}
}

Child::~Child()
{
	close_in();
	if (running()) {
		kill(pid_, SIGKILL);
		waitpid(pid_, nullptr, 0);
	}
}

bool Child::wait_out(const std::function<bool(const std::string &)> &pred, int timeout_ms)
{
	return wait_until([&] { return pred(out()); }, timeout_ms);
}

void Child::close_in()
{
	if (in_ >= 0)
		close(in_);
	in_ = -1;
}

void Child::signal(int sig)
{
	if (running())
		kill(pid_, sig);
}

bool Child::running()
{
	if (pid_ <= 0 || reaped_)
		return false;
	rusage ru = {};
	int st = 0;
	if (wait4(pid_, &st, WNOHANG, &ru) != pid_)
		return true;
	reaped_ = true;
	status_ = st;
	max_rss_kb_ = ru.ru_maxrss;
	return false;
}

bool Child::wait_exit(int *status, int timeout_ms)
{
	bool ended = wait_until([&] { return !running(); }, timeout_ms);
	if (ended && status)
		*status = status_;
	return ended;
}

Outcome run(const std::vector<std::string> &argv, const std::string &stdin_bytes, const EnvVars &env,
            int timeout_ms)
{
	Child c(argv, env);
	if (!stdin_bytes.empty())
		c.write_in(stdin_bytes);
	c.close_in();
	Outcome r;
	int ws = 0;
	bool ended = c.wait_exit(&ws, timeout_ms);
	EXPECT_TRUE(ended) << argv[0];
	r.status = ended && WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
	r.out = c.out();
	r.err = c.err();
	r.max_rss_kb = c.max_rss_kb();
	return r;
}

double Child::cpu_seconds() const
{
	// utime and stime are fields 14 and 15; the command name (field 2) may
	// hold blanks, so the count starts after its closing parenthesis.
	std::string stat = read_file("/proc/" + std::to_string(pid_) + "/stat");
	size_t paren = stat.rfind(')');
	if (paren == std::string::npos)
		return -1.0;
	std::istringstream in(stat.substr(paren + 1));
	std::string skip;
	for (int field = 3; field < 14; field++)
		in >> skip;
	unsigned long long utime = 0, stime = 0;
	in >> utime >> stime;
	return (double)(utime + stime) / (double)sysconf(_SC_CLK_TCK);
}

long Child::wakeups() const
{
	std::string status = read_file("/proc/" + std::to_string(pid_) + "/status");
	const std::string key = "\nvoluntary_ctxt_switches:";
	size_t at = status.find(key);
	return at == std::string::npos ? -1 : std::stol(status.substr(at + key.size()));
}

double Child::cpu_percent(int ms) const
{
	auto t0 = std::chrono::steady_clock::now();
	double c0 = cpu_seconds();
	sleep_ms(ms);
	double c1 = cpu_seconds();
	double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
	return 100.0 * (c1 - c0) / wall;
}

}  // namespace support
