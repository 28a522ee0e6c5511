#include "tests/doubles/gl_double.h"

#include <cstdio>

#include <GL/glut.h>

std::vector<GlCall> gl_calls;

static void record(const char *name, std::vector<double> args = {})
{
	gl_calls.push_back({name, std::move(args)});
}

std::string gl_trace()
{
	std::string out;
	for (const GlCall &c : gl_calls) {
		out += c.name + "(";
		for (size_t i = 0; i < c.args.size(); i++) {
			char num[40];
			snprintf(num, sizeof num, "%s%.9g", i ? "," : "", c.args[i]);
			out += num;
		}
		out += ")\n";
	}
	return out;
}

extern "C" {
void glClear(GLbitfield mask)
{
	record("glClear", {(double)mask});
}
void glColor3f(GLfloat r, GLfloat g, GLfloat b)
{
	record("glColor3f", {r, g, b});
}
void glBegin(GLenum mode)
{
	record("glBegin", {(double)mode});
}
void glVertex2f(GLfloat x, GLfloat y)
{
	record("glVertex2f", {x, y});
}
void glEnd(void)
{
	record("glEnd");
}
void glFlush(void)
{
	record("glFlush");
}
void glViewport(GLint x, GLint y, GLsizei w, GLsizei h)
{
	record("glViewport", {(double)x, (double)y, (double)w, (double)h});
}
void glMatrixMode(GLenum mode)
{
	record("glMatrixMode", {(double)mode});
}
void glLoadIdentity(void)
{
	record("glLoadIdentity");
}
void gluOrtho2D(GLdouble l, GLdouble r, GLdouble b, GLdouble t)
{
	record("gluOrtho2D", {l, r, b, t});
}
void glutSwapBuffers(void)
{
	record("glutSwapBuffers");
}
}
