#include "tests/e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

extern char **environ;

namespace e2e
{

const char *velmora_path()
{
	return VELMORA_BINARY;
}

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

// ---------------------------------------------------------------- processes

namespace
{

// Everything the forked child needs is built before fork(): after it, only
// async-signal-safe calls until execve.
struct Exec {
	std::vector<std::string> argv_s, env_s;
	std::vector<char *> argv, envp;

	Exec(const std::vector<std::string> &args, const EnvVars &env) : argv_s(args)
	{
		for (char **e = environ; *e; e++) {
			std::string v = *e;
			std::string name = v.substr(0, v.find('='));
			if (name == "DISPLAY" || name == "XAUTHORITY" || name.rfind("VELMORA_", 0) == 0)
				continue;
			bool overridden = false;
			for (const auto &kv : env)
				overridden |= kv.first == name;
			if (!overridden)
				env_s.push_back(v);
		}
		for (const auto &kv : env)
			env_s.push_back(kv.first + "=" + kv.second);
		for (auto &a : argv_s)
			argv.push_back(&a[0]);
		argv.push_back(nullptr);
		for (auto &e : env_s)
			envp.push_back(&e[0]);
		envp.push_back(nullptr);
	}
};

// Forks and execs; fds[i] becomes descriptor i in the child (-1: /dev/null).
pid_t spawn(Exec &ex, const std::vector<int> &fds)
{
	int devnull = ::open("/dev/null", O_RDWR | O_CLOEXEC);
	pid_t pid = fork();
	if (pid == 0) {
		struct sigaction sa;
		memset(&sa, 0, sizeof sa);
		sa.sa_handler = SIG_DFL;
		sigaction(SIGPIPE, &sa, nullptr);
		// Move the sources out of the way first, so no dup2 overwrites one
		// still to be copied.
		std::vector<int> src(fds.size());
		for (size_t i = 0; i < fds.size(); i++)
			src[i] = fcntl(fds[i] >= 0 ? fds[i] : devnull, F_DUPFD_CLOEXEC, 64);
		for (size_t i = 0; i < fds.size(); i++)
			dup2(src[i], (int)i);
		execve(ex.argv[0], ex.argv.data(), ex.envp.data());
		_exit(127);
	}
	if (devnull >= 0)
		::close(devnull);
	return pid;
}

void ignore_sigpipe()
{
	static bool done = false;
	if (!done) {
		signal(SIGPIPE, SIG_IGN);
		done = true;
	}
}

}  // namespace

bool write_fully(int fd, const std::string &bytes)
{
	ignore_sigpipe();
	size_t done = 0;
	while (done < bytes.size()) {
		ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
		if (n < 0 && errno == EINTR)
			continue;
		if (n <= 0)
			return false;
		done += (size_t)n;
	}
	return true;
}

Child::Child(const std::vector<std::string> &argv, const EnvVars &env)
{
	ignore_sigpipe();
	Exec ex(argv, env);
	int in[2], out[2], err[2];
	if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC)) {
		ADD_FAILURE() << "pipe: " << strerror(errno);
		return;
	}
	pid_ = spawn(ex, {in[0], out[1], err[1]});
	::close(in[0]);
	::close(out[1]);
	::close(err[1]);
	in_fd_ = in[1];
	if (pid_ < 0) {
		ADD_FAILURE() << "fork: " << strerror(errno);
		::close(out[0]);
		::close(err[0]);
		out_done_ = err_done_ = true;
		return;
	}
	out_thread_ = std::thread(&Child::reader, this, out[0], &out_, &out_done_);
	err_thread_ = std::thread(&Child::reader, this, err[0], &err_, &err_done_);
}

Child::~Child()
{
	close_in();
	if (pid_ > 0 && !reaped_) {
		kill(pid_, SIGKILL);
		int st;
		waitpid(pid_, &st, 0);
	}
	if (out_thread_.joinable())
		out_thread_.join();
	if (err_thread_.joinable())
		err_thread_.join();
}

void Child::reader(int fd, std::string *sink, bool *done)
{
	char buf[4096];
	for (;;) {
		ssize_t n = ::read(fd, buf, sizeof buf);
		if (n < 0 && errno == EINTR)
			continue;
		std::lock_guard<std::mutex> lock(mu_);
		if (n <= 0) {
			*done = true;
			cv_.notify_all();
			break;
		}
		sink->append(buf, (size_t)n);
		cv_.notify_all();
	}
	::close(fd);
}

std::string Child::out()
{
	std::lock_guard<std::mutex> lock(mu_);
	return out_;
}

std::string Child::err()
{
	std::lock_guard<std::mutex> lock(mu_);
	return err_;
}

bool Child::wait_out(const std::function<bool(const std::string &)> &pred, int timeout_ms)
{
	std::unique_lock<std::mutex> lock(mu_);
	return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] {
		return pred(out_) || out_done_;
	}) && pred(out_);
}

bool Child::wait_out_contains(const std::string &s, int timeout_ms)
{
	return wait_out([&](const std::string &o) { return o.find(s) != std::string::npos; }, timeout_ms);
}

bool Child::write_in(const std::string &bytes)
{
	return in_fd_ >= 0 && write_fully(in_fd_, bytes);
}

void Child::close_in()
{
	if (in_fd_ >= 0) {
		::close(in_fd_);
		in_fd_ = -1;
	}
}

void Child::signal(int sig)
{
	if (pid_ > 0 && !reaped_)
		kill(pid_, sig);
}

bool Child::running()
{
	if (pid_ <= 0 || reaped_)
		return false;
	int st;
	pid_t r = waitpid(pid_, &st, WNOHANG);
	if (r == pid_) {
		reaped_ = true;
		status_ = st;
		return false;
	}
	return true;
}

bool Child::wait_exit(int *status, int timeout_ms)
{
	bool ended = wait_until([&] { return !running(); }, timeout_ms);
	if (ended && status)
		*status = status_;
	return ended;
}

double Child::cpu_seconds()
{
	std::ifstream f("/proc/" + std::to_string(pid_) + "/stat");
	std::string s((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
	size_t paren = s.rfind(')');
	if (paren == std::string::npos)
		return -1.0;
	// After the command name: state is field 3, utime 14, stime 15.
	std::istringstream in(s.substr(paren + 2));
	std::string field;
	unsigned long long utime = 0, stime = 0;
	for (int i = 3; i <= 15 && in >> field; i++) {
		if (i == 14)
			utime = std::stoull(field);
		if (i == 15)
			stime = std::stoull(field);
	}
	return (double)(utime + stime) / (double)sysconf(_SC_CLK_TCK);
}

double cpu_percent(Child &c, int ms)
{
	auto t0 = std::chrono::steady_clock::now();
	double c0 = c.cpu_seconds();
	sleep_ms(ms);
	double c1 = c.cpu_seconds();
	double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
	return 100.0 * (c1 - c0) / wall;
}

// ---------------------------------------------------------------- X server

namespace
{

pid_t xvfb_pid = -1;
std::string xvfb_display;
Display *xdpy = nullptr;

int last_x_error = 0;
int on_x_error(Display *, XErrorEvent *e)
{
	last_x_error = e->error_code;
	return 0;
}

}  // namespace

void XServer::start()
{
	if (xdpy)
		return;
	ignore_sigpipe();
	int p[2];
	if (pipe2(p, O_CLOEXEC)) {
		ADD_FAILURE() << "pipe: " << strerror(errno);
		return;
	}
	// The display number is written to descriptor 3 once the server
	// accepts connections.
	Exec ex({"/usr/bin/Xvfb", "-displayfd", "3", "-screen", "0", "1280x1024x24", "-nolisten", "tcp"}, {});
	xvfb_pid = spawn(ex, {-1, -1, -1, p[1]});
	::close(p[1]);

	std::string num;
	auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(default_timeout_ms);
	while (num.find('\n') == std::string::npos && std::chrono::steady_clock::now() < end) {
		pollfd pfd = {p[0], POLLIN, 0};
		if (poll(&pfd, 1, poll_ms) > 0) {
			char buf[32];
			ssize_t n = ::read(p[0], buf, sizeof buf);
			if (n <= 0)
				break;
			num.append(buf, (size_t)n);
		}
	}
	::close(p[0]);
	if (num.find('\n') == std::string::npos) {
		ADD_FAILURE() << "Xvfb did not report its display";
		stop();
		return;
	}
	xvfb_display = ":" + num.substr(0, num.find('\n'));
	XSetErrorHandler(on_x_error);
	xdpy = XOpenDisplay(xvfb_display.c_str());
	if (!xdpy) {
		ADD_FAILURE() << "cannot connect to Xvfb on " << xvfb_display;
		stop();
	}
}

void XServer::stop()
{
	if (xdpy) {
		XCloseDisplay(xdpy);
		xdpy = nullptr;
	}
	if (xvfb_pid > 0) {
		kill(xvfb_pid, SIGTERM);
		int st;
		bool gone = wait_until([&] { return waitpid(xvfb_pid, &st, WNOHANG) == xvfb_pid; }, 3000);
		if (!gone) {
			kill(xvfb_pid, SIGKILL);
			waitpid(xvfb_pid, &st, 0);
		}
		xvfb_pid = -1;
	}
}

const std::string &XServer::display_name()
{
	return xvfb_display;
}

static bool titled(Window w, const std::string &title)
{
	char *name = nullptr;
	bool match = XFetchName(xdpy, w, &name) && name && title == name;
	if (name)
		XFree(name);
	return match;
}

static Window find_now(const std::string &title)
{
	Window root_ret, parent, *kids = nullptr;
	unsigned n = 0;
	Window found = 0;
	if (XQueryTree(xdpy, DefaultRootWindow(xdpy), &root_ret, &parent, &kids, &n)) {
		for (unsigned i = 0; i < n && !found; i++)
			if (titled(kids[i], title))
				found = kids[i];
		if (kids)
			XFree(kids);
	}
	return found;
}

Window find_window(const std::string &title, int timeout_ms)
{
	Window found = 0;
	if (!xdpy)
		return 0;
	wait_until(
	        [&] {
		        found = find_now(title);
		        return found && window_geometry(found).viewable;
	        },
	        timeout_ms);
	return found && window_geometry(found).viewable ? found : 0;
}

Geometry window_geometry(Window w)
{
	Geometry g = {0, 0, 0, 0, false};
	XWindowAttributes a;
	last_x_error = 0;
	if (!XGetWindowAttributes(xdpy, w, &a) || last_x_error)
		return g;
	Window child;
	XTranslateCoordinates(xdpy, w, DefaultRootWindow(xdpy), 0, 0, &g.x, &g.y, &child);
	g.width = a.width;
	g.height = a.height;
	g.viewable = a.map_state == IsViewable;
	return g;
}

bool resize_window(Window w, int width, int height)
{
	XResizeWindow(xdpy, w, (unsigned)width, (unsigned)height);
	XFlush(xdpy);
	return wait_until([&] {
		Geometry g = window_geometry(w);
		return g.width == width && g.height == height;
	});
}

void close_window(Window w)
{
	XEvent ev;
	memset(&ev, 0, sizeof ev);
	ev.xclient.type = ClientMessage;
	ev.xclient.window = w;
	ev.xclient.message_type = XInternAtom(xdpy, "WM_PROTOCOLS", False);
	ev.xclient.format = 32;
	ev.xclient.data.l[0] = (long)XInternAtom(xdpy, "WM_DELETE_WINDOW", False);
	ev.xclient.data.l[1] = CurrentTime;
	XSendEvent(xdpy, w, False, NoEventMask, &ev);
	XFlush(xdpy);
}

void set_mapped(Window w, bool mapped)
{
	if (mapped)
		XMapWindow(xdpy, w);
	else
		XUnmapWindow(xdpy, w);
	XFlush(xdpy);
	wait_until([&] { return window_geometry(w).viewable == mapped; });
}

void scribble(Window w, int x, int y, int width, int height)
{
	GC gc = XCreateGC(xdpy, w, 0, nullptr);
	XSetForeground(xdpy, gc, BlackPixel(xdpy, DefaultScreen(xdpy)));
	XFillRectangle(xdpy, w, gc, x, y, (unsigned)width, (unsigned)height);
	XFreeGC(xdpy, gc);
	XSync(xdpy, False);
}

void expose(Window w)
{
	XClearArea(xdpy, w, 0, 0, 0, 0, True);
	XFlush(xdpy);
}

// ---------------------------------------------------------------- pixels

const char *colour_name(Colour c)
{
	switch (c) {
	case Colour::White:
		return "white";
	case Colour::Red:
		return "red";
	case Colour::Blue:
		return "blue";
	case Colour::Black:
		return "black";
	case Colour::Other:
		break;
	}
	return "other";
}

// Lines are drawn without blending or smoothing, so a pixel is one of the
// palette's colours exactly; palette white (254) and the background (255)
// cannot be told apart and need not be.
Colour Image::colour(int x, int y) const
{
	uint32_t p = at(x, y);
	unsigned r = p >> 16 & 0xFF, g = p >> 8 & 0xFF, b = p & 0xFF;
	auto hi = [](unsigned v) { return v >= 200; };
	auto lo = [](unsigned v) { return v < 56; };
	if (hi(r) && hi(g) && hi(b))
		return Colour::White;
	if (hi(r) && lo(g) && lo(b))
		return Colour::Red;
	if (lo(r) && lo(g) && hi(b))
		return Colour::Blue;
	if (lo(r) && lo(g) && lo(b))
		return Colour::Black;
	return Colour::Other;
}

static unsigned shift_of(unsigned long mask)
{
	unsigned s = 0;
	while (mask && !(mask & 1)) {
		mask >>= 1;
		s++;
	}
	return s;
}

static unsigned channel(unsigned long pixel, unsigned long mask)
{
	if (!mask)
		return 0;
	unsigned long v = (pixel & mask) >> shift_of(mask);
	unsigned long max = mask >> shift_of(mask);
	return (unsigned)(v * 255 / max);
}

bool grab(Window w, Image *img, int x0, int y0, int width, int height)
{
	Geometry g = window_geometry(w);
	if (width == 0) {
		width = g.width;
		height = g.height;
	}
	if (!g.viewable || width <= 0 || height <= 0 || x0 < 0 || y0 < 0 || x0 + width > g.width ||
	    y0 + height > g.height)
		return false;
	last_x_error = 0;
	XImage *xi = XGetImage(xdpy, w, x0, y0, (unsigned)width, (unsigned)height, AllPlanes, ZPixmap);
	if (!xi || last_x_error) {
		if (xi)
			XDestroyImage(xi);
		return false;
	}
	img->width = width;
	img->height = height;
	img->rgb.resize((size_t)width * (size_t)height);
	for (int y = 0; y < height; y++)
		for (int x = 0; x < width; x++) {
			unsigned long p = XGetPixel(xi, x, y);
			img->rgb[(size_t)y * (size_t)width + (size_t)x] = channel(p, xi->red_mask) << 16 |
			                                                  channel(p, xi->green_mask) << 8 |
			                                                  channel(p, xi->blue_mask);
		}
	XDestroyImage(xi);
	return true;
}

float plot_map(uint16_t v)
{
	const uint32_t m = 1023;
	float d = (float)((double)(float)v - (double)(float)(m >> 1));
	return (float)((double)d / ((double)m * 0.52));
}

Point grid_to_pixel(uint16_t gx, uint16_t gy, int width, int height)
{
	double x = plot_map(gx), y = plot_map(gy);
	return {(x + 1.0) / 2.0 * width, height - (y + 1.0) * width / 2.0};
}

static double distance(Point p, Point a, Point b)
{
	double dx = b.x - a.x, dy = b.y - a.y;
	double len2 = dx * dx + dy * dy;
	double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0.0;
	t = std::max(0.0, std::min(1.0, t));
	double ex = a.x + t * dx - p.x, ey = a.y + t * dy - p.y;
	return std::sqrt(ex * ex + ey * ey);
}

std::string check_picture(const Image &img, const std::vector<Segment> &segments, double slack)
{
	std::ostringstream why;
	struct Mapped {
		Point a, b;
		Colour c;
	};
	std::vector<Mapped> m;
	for (const auto &s : segments)
		m.push_back({grid_to_pixel(s.x0, s.y0, img.width, img.height),
		             grid_to_pixel(s.x1, s.y1, img.width, img.height), s.colour});

	for (size_t k = 0; k < m.size(); k++) {
		double len = std::hypot(m[k].b.x - m[k].a.x, m[k].b.y - m[k].a.y);
		for (double d = 1.5; d <= len - 1.5; d += 0.5) {
			double px = m[k].a.x + (m[k].b.x - m[k].a.x) * d / len;
			double py = m[k].a.y + (m[k].b.y - m[k].a.y) * d / len;
			int cx = (int)std::floor(px), cy = (int)std::floor(py);
			if (cx < 1 || cy < 1 || cx >= img.width - 1 || cy >= img.height - 1)
				continue;
			bool seen = false;
			for (int dy = -1; dy <= 1 && !seen; dy++)
				for (int dx = -1; dx <= 1 && !seen; dx++)
					seen = img.colour(cx + dx, cy + dy) == m[k].c;
			if (!seen) {
				const Segment &s = segments[k];
				why << "no " << colour_name(m[k].c) << " pixel near (" << cx << ", " << cy
				    << ") on the segment (" << s.x0 << ", " << s.y0 << ")-(" << s.x1 << ", "
				    << s.y1 << ")";
				return why.str();
			}
		}
	}

	for (int y = 0; y < img.height; y++)
		for (int x = 0; x < img.width; x++) {
			Colour c = img.colour(x, y);
			if (c == Colour::White)
				continue;
			Point p = {x + 0.5, y + 0.5};
			bool near = false;
			for (const auto &s : m)
				near |= s.c == c && distance(p, s.a, s.b) <= slack;
			if (!near) {
				char rgb[16];
				snprintf(rgb, sizeof rgb, "#%06x", img.at(x, y));
				why << "stray " << colour_name(c) << " pixel " << rgb << " at (" << x << ", "
				    << y << ")";
				return why.str();
			}
		}
	return "";
}

int count_colour(const Image &img, Colour c)
{
	int n = 0;
	for (int y = 0; y < img.height; y++)
		for (int x = 0; x < img.width; x++)
			n += img.colour(x, y) == c;
	return n;
}

// Writes the image as a binary PPM next to the test's scratch files, so a
// failure can be looked at.
static std::string save_ppm(const Image &img)
{
	const ::testing::TestInfo *t = ::testing::UnitTest::GetInstance()->current_test_info();
	std::string name = t ? std::string(t->test_suite_name()) + "." + t->name() : "picture";
	for (char &c : name)
		if (c == '/')
			c = '_';
	const char *base = getenv("TMPDIR");
	std::string path = std::string(base && *base ? base : "/tmp") + "/velmora-e2e-" + name + "-" +
	                   std::to_string(getpid()) + ".ppm";
	std::ofstream f(path, std::ios::binary);
	f << "P6\n" << img.width << " " << img.height << "\n255\n";
	for (uint32_t p : img.rgb) {
		char rgb[3] = {(char)(p >> 16), (char)(p >> 8), (char)p};
		f.write(rgb, 3);
	}
	return f ? path : "(could not save the picture)";
}

std::string wait_for_picture(Window w, const std::vector<Segment> &segments, int timeout_ms)
{
	std::string why = "window not readable";
	Image img;
	bool ok = wait_until(
	        [&] {
		        if (!grab(w, &img))
			        return false;
		        why = check_picture(img, segments);
		        return why.empty();
	        },
	        timeout_ms);
	if (!ok && img.width > 0)
		why += "; window saved as " + save_ppm(img);
	return why;
}

// ---------------------------------------------------------------- streams

Stream &Stream::sync()
{
	return byte(0xFF).byte(0xFF);
}

Stream &Stream::byte(uint8_t b)
{
	bytes_.push_back((char)b);
	return *this;
}

Stream &Stream::word(uint16_t w)
{
	return byte((uint8_t)(w >> 8)).byte((uint8_t)(w & 0xFF));
}

Stream &Stream::text(const std::string &s)
{
	for (char ch : s)
		character((uint8_t)ch);
	return *this;
}

unsigned colour_index(Colour c)
{
	switch (c) {
	case Colour::White:
		return 0;
	case Colour::Red:
		return 1;
	case Colour::Blue:
		return 2;
	case Colour::Black:
	case Colour::Other:
		break;
	}
	return 3;
}

// ---------------------------------------------------------------- velmora

const char window_title[] = "Velmora (19Jun2012)";

std::string default_startup_lines()
{
	return "USB_direct(19Jun2012 qz)\n"
	       "Number of devices is 1\n"
	       "Dev : 0:\n"
	       "  Flags=0x0\n"
	       "  Type=0x5\n"
	       "  ID=0x4036001\n"
	       "  LocId=0x1000\n"
	       "  SerialNumber=VB0000\n"
	       "  Description=FT232R USB UART\n"
	       "  ftHandle=0x0\n"
	       "  ***** FT232R USB UART found as device 0\n"
	       "device 0 opened\n"
	       "Device: 00000005  Device ID: 04036001\n"
	       "SN: VB0000  Description: FT232R USB UART\n"
	       "device 0 reset\n"
	       "set baud rate: 1500000\n";
}

std::string question()
{
	return "Double display buffer(y or n)?";
}

std::string double_answer_line()
{
	return "\nUsing double display buffers\n";
}

std::string single_answer_line()
{
	return "\nUsing single display buffer\n";
}

std::unique_ptr<Child> start_velmora(const EnvVars &env)
{
	EnvVars all = env;
	all.emplace_back("DISPLAY", XServer::display_name());
	const char *asan = getenv("ASAN_OPTIONS");
	all.emplace_back("ASAN_OPTIONS", std::string(asan && *asan ? asan : "") + (asan && *asan ? ":" : "") +
	                                         "detect_leaks=0");
	return std::make_unique<Child>(std::vector<std::string>{velmora_path()}, all);
}

TempDir::TempDir()
{
	const char *base = getenv("TMPDIR");
	std::string tmpl = std::string(base && *base ? base : "/tmp") + "/velmora-e2e-XXXXXX";
	if (mkdtemp(&tmpl[0]))
		path_ = tmpl;
	else
		ADD_FAILURE() << "mkdtemp: " << strerror(errno);
}

TempDir::~TempDir()
{
	if (!path_.empty()) {
		std::string cmd = "rm -rf '" + path_ + "'";
		if (system(cmd.c_str()) != 0)
			fprintf(stderr, "could not remove %s\n", path_.c_str());
	}
}

std::string TempDir::file(const std::string &name, const std::string &contents) const
{
	std::string p = path_ + "/" + name;
	std::ofstream f(p, std::ios::binary);
	f << contents;
	return p;
}

std::string TempDir::fifo(const std::string &name) const
{
	std::string p = path_ + "/" + name;
	if (mkfifo(p.c_str(), 0600))
		ADD_FAILURE() << "mkfifo " << p << ": " << strerror(errno);
	return p;
}

FifoWriter::FifoWriter(const std::string &path) : path_(path) {}

FifoWriter::~FifoWriter()
{
	if (fd_ >= 0)
		::close(fd_);
}

// A non-blocking open of a fifo's writing end fails until a reader has
// it open; the descriptor is made blocking once it succeeds.
bool FifoWriter::open(int timeout_ms)
{
	wait_until(
	        [&] {
		        fd_ = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
		        return fd_ >= 0;
	        },
	        timeout_ms);
	if (fd_ < 0)
		return false;
	fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
	return true;
}

bool FifoWriter::write(const std::string &bytes)
{
	return fd_ >= 0 && write_fully(fd_, bytes);
}

::testing::AssertionResult console_is(Child &child, const std::string &expected)
{
	child.wait_out([&](const std::string &o) { return o.size() >= expected.size(); });
	std::string out = child.out();
	if (out == expected)
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure() << "stdout:\n"
					     << out << "\nexpected:\n"
					     << expected << "\nstderr:\n"
					     << child.err();
}

Running start_with_window(const EnvVars &env, char answer)
{
	Running r;
	r.child = start_velmora(env);
	const std::string before = default_startup_lines() + question();
	if (!r.child->wait_out([&](const std::string &o) { return o.size() >= before.size(); })) {
		ADD_FAILURE() << "no question; stdout:\n"
		              << r.child->out() << "\nstderr:\n"
		              << r.child->err();
		return r;
	}
	EXPECT_EQ(r.child->out(), before);
	r.child->write_in(std::string(1, answer) + "\n");
	const std::string after = before + (answer == 'y' ? double_answer_line() : single_answer_line());
	EXPECT_TRUE(r.child->wait_out([&](const std::string &o) { return o.size() >= after.size(); }));
	EXPECT_EQ(r.child->out(), after);
	r.window = find_window(window_title);
	if (!r.window)
		ADD_FAILURE() << "no window; stdout:\n" << r.child->out() << "\nstderr:\n" << r.child->err();
	return r;
}

}  // namespace e2e
