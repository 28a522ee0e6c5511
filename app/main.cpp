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
#include <cstdio>

#include <GL/freeglut.h>

#include "app/app.h"
#include "display/display_list.h"
#include "display/renderer.h"
#include "stream/framer.h"
#include "usb/usb_link.h"

int32_t window_width = (int32_t)((double)max_x_plot * window_scale);
int32_t window_height = (int32_t)((double)max_y_plot * window_scale);

static const char window_title[] = "Velmora (19Jun2012)";
static bool sw_double;  // the answer to the buffering question

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
	sw_tick_owed = 0;
	if (sw_hidden)
		sw_wait = 0;  // as if drawn: a hidden window must not stall the board
	else if (PassNeeded(sw_double))
		glutPostRedisplay();
	else
		sw_tick_owed = 1;
	arm_timer();
}

int main(int argc, char **argv)
{
	// Every message must reach a pipe or a file at once: the question
	// before its answer is read, a halt's lines before the wait.
	setvbuf(stdout, nullptr, _IONBF, 0);

	glutInit(&argc, argv);
	meInit();
	USB_direct_initialize();

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
	glClearColor(1.0f, 1.0f, 1.0f, 0.0f);
	glutReshapeFunc(resizeWindow);
	glutDisplayFunc(Display);
	glutWindowStatusFunc(myWindowStatus);
	glutIdleFunc(myIdle);
	arm_timer();

	sw_main_loop = 1;
	glutMainLoop();
	return 0;
}
