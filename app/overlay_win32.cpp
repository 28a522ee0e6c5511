// The overlay's box on Windows: a child window of the display's window,
// painted with GDI in the system's fixed-pitch font.
#include "app/overlay_box.h"

#include <windows.h>

#include <GL/freeglut.h>

static HWND parent = nullptr, box = nullptr;
static HFONT font = nullptr;
static int box_x = 0, box_y = 0, box_width = 0, box_height = 0, box_pad = 0, line_height = 0;
static std::vector<std::string> shown;  // the lines it paints
static const COLORREF ink = RGB(240, 240, 240), paper = RGB(40, 40, 40);

static LRESULT CALLBACK box_proc(HWND w, UINT message, WPARAM wp, LPARAM lp)
{
	if (message != WM_PAINT)
		return DefWindowProcA(w, message, wp, lp);
	PAINTSTRUCT ps;
	HDC dc = BeginPaint(w, &ps);
	RECT all = {0, 0, box_width, box_height};
	HBRUSH brush = CreateSolidBrush(paper);
	FillRect(dc, &all, brush);
	DeleteObject(brush);
	HGDIOBJ old = SelectObject(dc, font);
	SetTextColor(dc, ink);
	SetBkMode(dc, TRANSPARENT);
	for (size_t i = 0; i < shown.size(); i++)
		TextOutA(dc, box_pad, box_pad + (int)i * line_height, shown[i].c_str(), (int)shown[i].size());
	SelectObject(dc, old);
	EndPaint(w, &ps);
	return 0;
}

bool box_make(int x, int y, int columns, int lines, int pad, int *width, int *height)
{
	parent = WindowFromDC(wglGetCurrentDC());
	if (!parent)
		return false;
	WNDCLASSA c = {};
	c.lpfnWndProc = box_proc;
	c.hInstance = GetModuleHandleA(nullptr);
	c.lpszClassName = "velmora-overlay";
	c.hCursor = LoadCursor(nullptr, IDC_ARROW);
	RegisterClassA(&c);
	font = (HFONT)GetStockObject(ANSI_FIXED_FONT);
	HDC dc = GetDC(parent);
	HGDIOBJ old = SelectObject(dc, font);
	TEXTMETRICA m;
	GetTextMetricsA(dc, &m);
	SelectObject(dc, old);
	ReleaseDC(parent, dc);
	line_height = m.tmHeight;
	box_x = x;
	box_y = y;
	box_pad = pad;
	box_width = *width = columns * m.tmAveCharWidth + 2 * pad;
	box_height = *height = lines * line_height + 2 * pad;
	// The display's window clips its children, so no pass draws over it.
	SetWindowLongPtrA(parent, GWL_STYLE, GetWindowLongPtrA(parent, GWL_STYLE) | WS_CLIPCHILDREN);
	box = CreateWindowExA(0, c.lpszClassName, "", WS_CHILD, x, y, box_width, box_height, parent, nullptr,
	                      c.hInstance, nullptr);
	return box != nullptr;
}

void box_draw(const std::vector<std::string> &lines)
{
	shown = lines;
	std::string all;
	for (const std::string &l : lines)
		all += l + "\n";
	SetWindowTextA(box, all.c_str());  // its text for whoever cannot read pixels
	InvalidateRect(box, nullptr, FALSE);
	UpdateWindow(box);
}

void box_show(bool sw_on)
{
	ShowWindow(box, sw_on ? SW_SHOWNA : SW_HIDE);
	if (sw_on)
		UpdateWindow(box);
}

void box_put_back(const std::vector<uint8_t> &rgb, int width, int height)
{
	// A bottom-up 24-bit DIB wants BGR rows padded to four bytes.
	int row = (width * 3 + 3) & ~3;
	std::vector<uint8_t> bgr((size_t)row * (size_t)height);
	for (int y = 0; y < height; y++)
		for (int x = 0; x < width; x++) {
			const uint8_t *p = &rgb[((size_t)y * (size_t)width + (size_t)x) * 3];
			uint8_t *q = &bgr[(size_t)(height - 1 - y) * (size_t)row + (size_t)x * 3];
			q[0] = p[2];
			q[1] = p[1];
			q[2] = p[0];
		}
	BITMAPINFO bi = {};
	bi.bmiHeader.biSize = sizeof bi.bmiHeader;
	bi.bmiHeader.biWidth = width;
	bi.bmiHeader.biHeight = height;
	bi.bmiHeader.biPlanes = 1;
	bi.bmiHeader.biBitCount = 24;
	bi.bmiHeader.biCompression = BI_RGB;
	HDC dc = GetDC(parent);
	SetDIBitsToDevice(dc, box_x, box_y, (DWORD)width, (DWORD)height, 0, 0, 0, (UINT)height, bgr.data(),
	                  &bi, DIB_RGB_COLORS);
	ReleaseDC(parent, dc);
	ValidateRect(parent, nullptr);
}
