// Velmora: a live vector display for a board that streams 16-bit drawing
// instructions over an FT232R USB serial link.
//
// main() brings the system up in a fixed order (GLUT, the display list,
// the USB device, the one console question, the window, the callbacks)
// and hands over to the GLUT event loop.  From then on everything runs in
// GLUT callbacks on the one thread: the idle callback (app/idle.cpp) runs
// GetInstruction (stream/framer.cpp), which reads bytes through drchar
// (usb/byte_reader.cpp), frames them into words and has Parse
// (stream/decoder.cpp) append records to the display list
// (display/display_list.cpp), characters through the stroker (font/), and
// then sleeps until there is more to do; the 10 ms timer here asks for a
// redisplay when the picture can have changed, and Display
// (display/renderer.cpp) draws the whole list, presenting and releasing the
// framer at every end-of-frame record.  To understand everything else,
// start reading main().
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <GL/freeglut.h>

#include "app/app.h"
#include "display/display_list.h"
#include "display/renderer.h"
#include "stream/framer.h"
#include "usb/capture.h"
#include "usb/usb_link.h"

int32_t window_width = start_width;
int32_t window_height = start_height;

static const char window_title[] = "Velmora (19Jun2012)";
bool sw_double = false;

void meInit()
{
	sw_wait = 0;
	nCommands = 0;
}

static void arm_timer()
{
	glutTimerFunc(timer_ms, myTimer, 0);
	timer_deadline = glutGet(GLUT_ELAPSED_TIME) + (int32_t)timer_ms;
}

void myTimer(int)
{
	if (sw_halted)
		return;
	capture_tick();
	overlay_tick();
	sw_tick_owed = 0;
	if (sw_hidden)
		sw_wait = 0;  // as if drawn: a hidden window must not stall the board
	else if (PassNeeded(sw_double))
		glutPostRedisplay();
	else
		sw_tick_owed = 1;
	arm_timer();
}

static const char usage_text[] =
        "usage: velmora [GLUT options, such as -display DISPLAY]\n"
        "\n"
        "Shows, in a window and as they come, the drawing instructions that a board\n"
        "streams over an FT232R USB serial link at 1,500,000 baud.\n"
        "\n"
        "At start it lists the USB serial devices, opens the one described\n"
        "\"FT232R USB UART\" and asks on the console:\n"
        "  Double display buffer(y or n)?\n"
        "y shows each picture once it is complete (at its end of frame); any other\n"
        "answer draws straight into the window, so pictures are seen as they are built.\n"
        "\n"
        "Environment:\n"
        "  VELMORA_BOARD=SOURCE        a virtual board instead of a USB device: file:PATH\n"
        "                              (played once), fifo:PATH, tcp:PORT (on 127.0.0.1),\n"
        "                              or PATH alone; a PATH.vel file is velmora-encode's\n"
        "                              text form\n"
        "  VELMORA_BOARD_RATE=N        its bytes per second (default 150000; 0: unpaced)\n"
        "  VELMORA_BOARD_DEVICES=LIST  its device list, DESCRIPTION[@SERIAL];...\n"
        "  VELMORA_BOARD_FAIL=OP[@N]   makes a device operation fail (FT_Read@3, ...)\n"
        "  VELMORA_SERIAL=S            of several boards, open the one with serial number S\n"
        "  VELMORA_CAPTURE=FILE        also write every byte read from the board to FILE\n"
        "                              (replay it with VELMORA_BOARD=file:FILE); a FILE\n"
        "                              that holds bytes already is kept and FILE-2,\n"
        "                              FILE-3... taken instead; the board's own file\n"
        "                              is refused\n"
        "  VELMORA_TTY_SYSFS, VELMORA_TTY_DEV\n"
        "                              where serial ports are listed and opened\n"
        "                              (default /sys and /dev)\n"
        "\n"
        "In the window:\n"
        "  s   save what the window shows as velmora-YYYYMMDD-HHMMSS.png, and the\n"
        "      display list as .svg, in the current directory (-2, -3... when the\n"
        "      name is taken: nothing is overwritten); after a halt too\n"
        "  i   show or hide, in the top-left corner, what arrives: bytes and words a\n"
        "      second, frames shown a second, the list's records, sync found or lost,\n"
        "      line errors reported, the halt's reason; never in a saved picture\n"
        "Closing the window ends the program.\n"
        "\n"
        "Tools, each with --help: velmora-decode (bytes to a listing), velmora-encode\n"
        "(text to bytes), velmora-snap (bytes to a PNG or SVG of a frame),\n"
        "velmora-inspect (bytes to one HTML page: frames, strokes and their words),\n"
        "velmora-serve (the board's picture served to browsers, no X server),\n"
        "velmora-demo (an animated demo stream).\n"
        "\n"
        "  -h, --help  show this text\n"
        "  --version   show the version\n";

// --help and --version answer before any device or display is touched, so
// they work without a board and without an X server.
// An answer that cannot be written (a full disk, a closed pipe) is a
// failure, said on stderr.
[[noreturn]] static void answer(const char *text)
{
	if (fputs(text, stdout) < 0 || fflush(stdout) != 0) {
		fprintf(stderr, "velmora: write error: %s\n", strerror(errno));
		exit(1);
	}
	exit(0);
}

static void answer_options(int argc, char **argv)
{
	for (int i = 1; i < argc; i++) {
		if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0)
			answer(usage_text);
		if (strcmp(argv[i], "--version") == 0)
			answer("velmora " VELMORA_VERSION "\n");
	}
}

// GLUT's fatal errors, said as GLUT says them, and then what to do about
// the commonest: no X display, where velmora-serve still shows the board.
// GLUT goes on after a handler that returns, so this one never does.
static const char *program_name = "velmora";
[[noreturn]] static void glut_error(const char *format, va_list ap)
{
	fprintf(stderr, "freeglut (%s): ", program_name);
	vfprintf(stderr, format, ap);
	fputc('\n', stderr);
	if (strncmp(format, "failed to open display", 22) == 0)
		fprintf(stderr, "velmora: no X display to open the window on: velmora-serve reads the board "
		                "the same way and shows its picture in a browser, with no X server "
		                "(velmora-serve --help)\n");
	exit(1);
}

// What GLUT did not take.  A file named there is most likely a stream to
// be shown, which comes through the virtual board.
static void say_ignored(int argc, char **argv)
{
	for (int i = 1; i < argc; i++) {
		if (argv[i][0] == '-')
			fprintf(stderr, "velmora: argument \"%s\" ignored (velmora --help)\n", argv[i]);
		else
			fprintf(stderr,
			        "velmora: argument \"%s\" ignored: to show a stream file, set "
			        "VELMORA_BOARD=%s (velmora --help)\n",
			        argv[i], argv[i]);
	}
}

int main(int argc, char **argv)
{
	// Every message must reach a pipe or a file at once: the question
	// before its answer is read, a halt's lines before the wait.
	platform_start();
	setvbuf(stdout, nullptr, _IONBF, 0);

	answer_options(argc, argv);
	if (argc > 0)
		program_name = argv[0];
	glutInitErrorFunc(glut_error);
	glutInit(&argc, argv);
	say_ignored(argc, argv);
	meInit();
	USB_direct_initialize();
	capture_open();

	printf("Double display buffer(y or n)?");
	char answer = 0;
	if (scanf("%c", &answer) != 1)
		answer = 0;  // no input at all: single buffering
	sw_double = answer == 'y';
	if (sw_double) {
		glutInitDisplayMode(display_mode_double);
		printf("\nUsing double display buffers\n");
	} else {
		glutInitDisplayMode(display_mode_single);
		printf("\nUsing single display buffer\n");
	}

	glutInitWindowSize(window_width, window_height);
	glutInitWindowPosition(window_x, window_y);
	glutCreateWindow(window_title);
	window_created();
	glClearColor(1.0f, 1.0f, 1.0f, 0.0f);
	glutReshapeFunc(resizeWindow);
	glutDisplayFunc(Display);
	glutWindowStatusFunc(myWindowStatus);
	glutKeyboardFunc(myKeyboard);
	glutIdleFunc(myIdle);
	arm_timer();

	sw_main_loop = 1;
	glutMainLoop();
	return 0;
}
