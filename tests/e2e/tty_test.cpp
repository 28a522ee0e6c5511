// The tty backend end to end: with no virtual board, the program finds an
// FT232R port in a fake sysfs tree, opens its device node (here a
// pseudo-terminal) and draws what is written to the other side.
#include "tests/e2e/harness.h"
#include "tests/support/tty.h"

namespace e2e
{
namespace
{

using E2eTty = E2eTest;

TEST_F(E2eTty, DrawsWhatThePortReceives)
{
	TempDir tmp;
	Pty pty;
	ASSERT_FALSE(pty.name().empty());
	FakeSysfs sysfs(tmp.path());
	sysfs.add_port(0, "3-2",
	               "idVendor=0403;idProduct=6001;product=FT232R USB UART;"
	               "serial=A7XK31QZ;busnum=3;devpath=2");
	sysfs.plug(0, pty);

	auto child = start_velmora(
	        {{"VELMORA_TTY_SYSFS", sysfs.sys.string()}, {"VELMORA_TTY_DEV", sysfs.dev.string()}});
	// LocId: the bus number, then a hex digit per port down the USB path.
	ASSERT_TRUE(console_is(*child, startup_lines("A7XK31QZ", 0x32) + question));

	child->write_in("n\n");
	Window w = find_window();
	ASSERT_NE(w, 0u) << child->both();

	// Bytes that a cooked terminal would eat or change: 0x11/0x13 (flow
	// control), 0x0D (carriage return), 0x03 (interrupt), 0x7F.
	const Segment a = {0x111, 0x113, 0x30D, 0x113, Colour::Blue};
	const Segment b = {0x203, 0x37F, 0x203, 0x1FF, Colour::Red};
	ASSERT_TRUE(pty.write(Stream().sync().frame({a, b}).bytes()));
	EXPECT_EQ(wait_for_picture(w, {a, b}), "");
}

}  // namespace
}  // namespace e2e
