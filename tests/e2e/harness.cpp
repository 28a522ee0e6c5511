#include "tests/e2e/harness.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <png.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include "common/config.h"
#include "display/plot_map.h"

namespace e2e
{

// ---------------------------------------------------------------- X server

namespace
{

const char window_title[] = "Velmora (19Jun2012)";

std::unique_ptr<Child> xvfb;
std::string xvfb_display;
Display *xdpy = nullptr;

int last_x_error = 0;
int on_x_error(Display *, XErrorEvent *e)
{
	last_x_error = e->error_code;
	return 0;
}

}  // namespace

// One Xvfb per suite, on a display number of its own choosing, which it
// writes to its stdout once it accepts connections; one Xlib connection to
// it for the checks.
void E2eTest::SetUpTestSuite()
{
	xvfb = std::make_unique<Child>(std::vector<std::string>{"/usr/bin/Xvfb", "-displayfd", "1", "-screen",
	                                                        "0", "1280x1024x24", "-nolisten", "tcp"});
	if (!xvfb->wait_out_contains("\n")) {
		ADD_FAILURE() << "Xvfb did not report its display; " << xvfb->both();
		return;
	}
	std::string out = xvfb->out();
	xvfb_display = ":" + out.substr(0, out.find('\n'));
	XSetErrorHandler(on_x_error);
	xdpy = XOpenDisplay(xvfb_display.c_str());
	if (!xdpy)
		ADD_FAILURE() << "cannot connect to Xvfb on " << xvfb_display;
}

void E2eTest::TearDownTestSuite()
{
	if (xdpy)
		XCloseDisplay(xdpy);
	xdpy = nullptr;
	if (xvfb) {
		xvfb->signal(SIGTERM);
		xvfb->wait_exit(nullptr, 3000);
		xvfb.reset();  // SIGKILL if it is still there
	}
}

static Window find_now()
{
	Window root, parent, *kids = nullptr, found = 0;
	unsigned n = 0;
	if (!xdpy || !XQueryTree(xdpy, DefaultRootWindow(xdpy), &root, &parent, &kids, &n))
		return 0;
	for (unsigned i = 0; i < n && !found; i++) {
		char *name = nullptr;
		if (XFetchName(xdpy, kids[i], &name) && name && strcmp(name, window_title) == 0)
			found = kids[i];
		if (name)
			XFree(name);
	}
	if (kids)
		XFree(kids);
	return found;
}

Window find_window(int timeout_ms)
{
	Window found = 0;
	auto shown = [&] { return (found = find_now()) && window_geometry(found).viewable; };
	return wait_until(shown, timeout_ms) ? found : 0;
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

void destroy_window(Window w)
{
	XDestroyWindow(xdpy, w);
	XSync(xdpy, False);
}

const std::string &x_display()
{
	return xvfb_display;
}

void press_key(Window w, const char *keysym)
{
	XEvent ev;
	memset(&ev, 0, sizeof ev);
	ev.xkey.type = KeyPress;
	ev.xkey.window = w;
	ev.xkey.root = DefaultRootWindow(xdpy);
	ev.xkey.keycode = XKeysymToKeycode(xdpy, XStringToKeysym(keysym));
	ev.xkey.same_screen = True;
	XSendEvent(xdpy, w, True, KeyPressMask, &ev);
	ev.xkey.type = KeyRelease;
	XSendEvent(xdpy, w, True, KeyReleaseMask, &ev);
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

void blacken_screen()
{
	Screen *s = DefaultScreenOfDisplay(xdpy);
	scribble(RootWindowOfScreen(s), 0, 0, WidthOfScreen(s), HeightOfScreen(s));
}

void expose(Window w)
{
	XClearArea(xdpy, w, 0, 0, 0, 0, True);
	XFlush(xdpy);
}

// ---------------------------------------------------------------- pixels

std::string shown_child_name(Window w)
{
	Window root, parent, *children = nullptr;
	unsigned n = 0;
	std::string name;
	if (!XQueryTree(xdpy, w, &root, &parent, &children, &n))
		return name;
	for (unsigned i = 0; i < n && name.empty(); i++) {
		XWindowAttributes a;
		char *text = nullptr;
		if (XGetWindowAttributes(xdpy, children[i], &a) && a.map_state == IsViewable &&
		    XFetchName(xdpy, children[i], &text) && text) {
			name = text;
			XFree(text);
		}
	}
	if (children)
		XFree(children);
	return name;
}

static const char *colour_name(Colour c)
{
	static const char *const names[] = {"white", "red", "blue", "black", "other"};
	return names[(int)c];
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
	if (xi && !last_x_error) {
		img->width = width;
		img->height = height;
		img->rgb.resize((size_t)width * (size_t)height);
		// The server's 24-bit TrueColor visual: a pixel is 0xRRGGBB.
		for (int y = 0; y < height; y++)
			for (int x = 0; x < width; x++)
				img->rgb[(size_t)y * (size_t)width + (size_t)x] =
				        (uint32_t)(XGetPixel(xi, x, y) & 0xFFFFFF);
	}
	if (xi)
		XDestroyImage(xi);
	return xi && !last_x_error;
}

int count_colour(const Image &img, Colour c)
{
	int n = 0;
	for (int y = 0; y < img.height; y++)
		for (int x = 0; x < img.width; x++)
			n += img.colour(x, y) == c;
	return n;
}

Image read_png(const std::string &path, std::string *why)
{
	Image img;
	png_image png;
	memset(&png, 0, sizeof png);
	png.version = PNG_IMAGE_VERSION;
	if (!png_image_begin_read_from_file(&png, path.c_str())) {
		*why = png.message;
		return img;
	}
	if (png.format != PNG_FORMAT_RGB) {
		*why = "not an 8-bit RGB PNG";
		png_image_free(&png);
		return img;
	}
	std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(png));
	if (!png_image_finish_read(&png, nullptr, rgb.data(), 0, nullptr)) {
		*why = png.message;
		return img;
	}
	img.width = (int)png.width;
	img.height = (int)png.height;
	for (size_t i = 0; i + 2 < rgb.size(); i += 3)
		img.rgb.push_back((uint32_t)rgb[i] << 16 | (uint32_t)rgb[i + 1] << 8 | rgb[i + 2]);
	return img;
}

std::string differences(const Image &a, const Image &b)
{
	if (a.width != b.width || a.height != b.height)
		return "sizes differ: " + std::to_string(a.width) + "x" + std::to_string(a.height) + " and " +
		       std::to_string(b.width) + "x" + std::to_string(b.height);
	std::string first;
	int n = 0;
	for (int y = 0; y < a.height; y++)
		for (int x = 0; x < a.width; x++)
			if (a.at(x, y) != b.at(x, y) && n++ == 0) {
				char text[80];
				snprintf(text, sizeof text, "first at (%d, %d): #%06x and #%06x", x, y,
				         a.at(x, y), b.at(x, y));
				first = text;
			}
	return n == 0 ? "" : std::to_string(n) + " pixels differ, " + first;
}

Point grid_to_pixel(uint16_t gx, uint16_t gy, int width, int height)
{
	double x = plot_map(gx, max_x), y = plot_map(gy, max_y);
	return {(x + 1.0) / 2.0 * width, height - (y + 1.0) * width / 2.0};
}

static double distance(Point p, Point a, Point b)
{
	double dx = b.x - a.x, dy = b.y - a.y;
	double len2 = dx * dx + dy * dy;
	double t = len2 > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / len2 : 0.0;
	t = std::clamp(t, 0.0, 1.0);
	return std::hypot(a.x + t * dx - p.x, a.y + t * dy - p.y);
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
			int cx = (int)std::floor(m[k].a.x + (m[k].b.x - m[k].a.x) * d / len);
			int cy = (int)std::floor(m[k].a.y + (m[k].b.y - m[k].a.y) * d / len);
			if (cx < 1 || cy < 1 || cx >= img.width - 1 || cy >= img.height - 1)
				continue;
			bool seen = false;
			for (int dy = -1; dy <= 1; dy++)
				for (int dx = -1; dx <= 1; dx++)
					seen |= img.colour(cx + dx, cy + dy) == m[k].c;
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
			Point p = {x + 0.5, y + 0.5};
			if (c == Colour::White || std::any_of(m.begin(), m.end(), [&](const Mapped &s) {
				    return s.c == c && distance(p, s.a, s.b) <= slack;
			    }))
				continue;
			char rgb[16];
			snprintf(rgb, sizeof rgb, "#%06x", img.at(x, y));
			why << "stray " << colour_name(c) << " pixel " << rgb << " at (" << x << ", " << y
			    << ")";
			return why.str();
		}
	return "";
}

// Writes the image as a binary PPM, so a failure can be looked at.
static std::string save_ppm(const Image &img)
{
	const ::testing::TestInfo *t = ::testing::UnitTest::GetInstance()->current_test_info();
	std::string name = t ? std::string(t->test_suite_name()) + "." + t->name() : "picture";
	std::replace(name.begin(), name.end(), '/', '_');
	std::string path =
	        testing::TempDir() + "velmora-e2e-" + name + "-" + std::to_string(getpid()) + ".ppm";
	std::string ppm = "P6\n" + std::to_string(img.width) + " " + std::to_string(img.height) + "\n255\n";
	for (uint32_t p : img.rgb)
		ppm += {(char)(p >> 16), (char)(p >> 8), (char)p};
	write_file(path, ppm);
	return path;
}

std::string wait_for_picture(Window w, const std::vector<Segment> &segments, int timeout_ms)
{
	std::string why = "window not readable";
	Image img;
	auto matches = [&] { return grab(w, &img) && (why = check_picture(img, segments)).empty(); };
	if (!wait_until(matches, timeout_ms) && img.width > 0)
		why += "; window saved as " + save_ppm(img);
	return why;
}

// ---------------------------------------------------------------- velmora

std::string listing(unsigned i, const std::string &serial, const std::string &description, unsigned loc_id)
{
	char loc[16];
	snprintf(loc, sizeof loc, "%x", loc_id ? loc_id : 0x1000 + i);
	return "Dev : " + std::to_string(i) + ":\n  Flags=0x0\n  Type=0x5\n  ID=0x4036001\n  LocId=0x" + loc +
	       "\n  SerialNumber=" + serial + "\n  Description=" + description + "\n  ftHandle=0x0\n";
}

std::string startup_lines(const std::string &serial, unsigned loc_id)
{
	return "USB_direct(19Jun2012 qz)\n"
	       "Number of devices is 1\n" +
	       listing(0, serial, "FT232R USB UART", loc_id) +
	       "  ***** FT232R USB UART found as device 0\n"
	       "device 0 opened\n"
	       "Device: 00000005  Device ID: 04036001\n"
	       "SN: " +
	       serial +
	       "  Description: FT232R USB UART\n"
	       "device 0 reset\n"
	       "set baud rate: 1500000\n";
}

bool velmora_under_wine()
{
	const char *prefix = getenv("WINEPREFIX");
	return prefix && *prefix && velmora_command()[0].find("wine") != std::string::npos;
}

const std::string &silent_board()
{
	static TempDir dir;
	static const std::string board = "file:" + dir.file("silent", "");
	return board;
}

std::vector<std::string> velmora_command()
{
	std::vector<std::string> argv;
	const char *given = getenv("VELMORA_E2E_PROGRAM");
	std::string words = given && *given ? given : VELMORA_BINARY;
	for (size_t at = 0, end; at < words.size(); at = end + 1) {
		end = words.find(' ', at);
		if (end == std::string::npos)
			end = words.size();
		if (end > at)
			argv.push_back(words.substr(at, end - at));
	}
	return argv;
}

std::unique_ptr<Child> start_velmora(const EnvVars &env, const std::vector<std::string> &args,
                                     const fs::path &cwd)
{
	EnvVars all = env;
	all.emplace_back("DISPLAY", xvfb_display);
	const char *asan = getenv("ASAN_OPTIONS");
	all.emplace_back("ASAN_OPTIONS",
	                 std::string(asan && *asan ? asan + std::string(":") : "") + "detect_leaks=0");
	std::vector<std::string> argv = velmora_command();
	argv.insert(argv.end(), args.begin(), args.end());
	return std::make_unique<Child>(argv, all, cwd);
}

::testing::AssertionResult console_is(Child &child, const std::string &expected)
{
	child.wait_out_size(expected.size());
	if (child.out() == expected)
		return ::testing::AssertionSuccess();
	return ::testing::AssertionFailure() << "expected stdout:\n" << expected << "\n" << child.both();
}

Running start_with_window(const EnvVars &env, char answer, const fs::path &cwd)
{
	Running r;
	r.child = start_velmora(env, {}, cwd);
	const std::string before = startup_lines() + question;
	if (!r.child->wait_out_size(before.size())) {
		ADD_FAILURE() << "no question; " << r.child->both();
		return r;
	}
	EXPECT_EQ(r.child->out(), before);
	r.child->write_in(std::string(1, answer) + "\n");
	// What follows the answer, if anything, is the test's to check.
	const std::string after = before + (answer == 'y' ? double_answer : single_answer);
	EXPECT_TRUE(r.child->wait_out_size(after.size()));
	EXPECT_EQ(r.child->out().substr(0, after.size()), after);
	r.window = find_window();
	if (!r.window)
		ADD_FAILURE() << "no window; " << r.child->both();
	return r;
}

std::string save_with_s_key(Running &r)
{
	const size_t before = r.child->err().size();
	press_key(r.window, "s");
	if (!wait_until([&] { return r.child->err().find(".svg\n", before) != std::string::npos; }))
		return "";
	const std::string err = r.child->err();
	const size_t at = err.find("velmora-", before);
	return at == std::string::npos ? "" : err.substr(at, err.find(".png", at) + 4 - at);
}

FifoWriter::~FifoWriter()
{
	if (fd_ >= 0)
		close(fd_);
}

// A non-blocking open of a fifo's writing end fails until a reader has
// it open; the descriptor is made blocking once it succeeds.
bool FifoWriter::open(int timeout_ms)
{
	if (!wait_until([&] { return (fd_ = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC)) >= 0; },
	                timeout_ms))
		return false;
	fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
	return true;
}

std::string buffering_name(const ::testing::TestParamInfo<char> &p)
{
	return p.param == 'y' ? "Double" : "Single";
}

}  // namespace e2e
