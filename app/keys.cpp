// The window's keys: s saves what the window shows, as a PNG, and the
// display list as an SVG, in the working directory; i shows or hides the
// overlay.  Every other key does nothing.
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <string>

#include <GL/freeglut.h>

#include "app/app.h"
#include "picture/picture.h"

// velmora-YYYYMMDD-HHMMSS, with -2, -3... when a file of that name, PNG or
// SVG, exists already: nothing is overwritten, as with the capture.
static std::string free_name()
{
	time_t now = time(nullptr);
	tm local;
	localtime_r(&now, &local);
	char stamp[32];
	strftime(stamp, sizeof stamp, "velmora-%Y%m%d-%H%M%S", &local);
	std::string base = stamp;
	struct stat st;
	for (int n = 2; stat((base + ".png").c_str(), &st) == 0 || stat((base + ".svg").c_str(), &st) == 0;
	     n++)
		base = std::string(stamp) + "-" + std::to_string(n);
	return base;
}

static void save()
{
	int32_t width = glutGet(GLUT_WINDOW_WIDTH), height = glutGet(GLUT_WINDOW_HEIGHT);
	std::string base = free_name(), why;
	std::string png = base + ".png", svg = base + ".svg";
	std::vector<uint8_t> rgb;
	if (!read_window(width, height, &rgb)) {
		fprintf(stderr,
		        "velmora: could not save %s: cannot read the window (with double buffering it must "
		        "be wholly on the screen)\n",
		        png.c_str());
		return;
	}
	overlay_patch(&rgb, width, height);  // the window as the passes drew it
	if (!write_png(png.c_str(), width, height, rgb.data(), &why)) {
		fprintf(stderr, "velmora: could not save %s: %s\n", png.c_str(), why.c_str());
		return;
	}
	std::string text = display_list_svg(width, height, sw_double);
	if (!write_file(svg.c_str(), text.data(), text.size(), &why)) {
		fprintf(stderr, "velmora: saved %s; could not save %s: %s\n", png.c_str(), svg.c_str(),
		        why.c_str());
		return;
	}
	fprintf(stderr, "velmora: saved %s and %s\n", png.c_str(), svg.c_str());
}

void myKeyboard(unsigned char key, int, int)
{
	// After a halt too: saving reads the window and draws nothing, and the
	// overlay is a window of its own.
	if (key == 's')
		save();
	else if (key == 'i')
		overlay_key();
}
