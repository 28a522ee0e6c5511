// What the program offers a board developer beyond the picture: --help and
// --version without a display, GLUT's options, the capture of what the
// board sent, and the s key that saves the window.
#include <sys/wait.h>

#include "tests/e2e/harness.h"

namespace e2e
{
namespace
{

using E2eOptions = E2eTest;

TEST_F(E2eOptions, HelpAndVersionNeedNeitherBoardNorDisplay)
{
	for (const char *option : {"--help", "--version"}) {
		Child c({VELMORA_BINARY, option});  // no DISPLAY, no VELMORA_BOARD
		int status = -1;
		ASSERT_TRUE(c.wait_exit(&status));
		EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << option << "\n" << c.both();
		EXPECT_EQ(c.err(), "") << option;
		if (option[2] == 'h') {
			EXPECT_EQ(c.out().rfind("usage: velmora", 0), 0u);
			for (const char *topic : {"Double display buffer", "VELMORA_CAPTURE",
			                          "VELMORA_SERIAL", "  s ", "velmora-snap"})
				EXPECT_NE(c.out().find(topic), std::string::npos) << topic;
		} else {
			EXPECT_EQ(c.out().rfind("velmora ", 0), 0u) << c.out();
		}
	}
}

// -display names the server although DISPLAY names none; another argument
// is said to be ignored and changes nothing.
TEST_F(E2eOptions, GlutOptionsWorkAndOthersAreIgnoredAloud)
{
	auto child = start_velmora({{"DISPLAY", ":nowhere"}, {"VELMORA_BOARD", "file:/dev/null"}},
	                           {"-display", x_display(), "--frobnicate", "mine.bin"});
	ASSERT_TRUE(console_is(*child, startup_lines() + question));
	child->write_in("n\n");
	Window w = find_window();
	ASSERT_NE(w, 0u) << child->both();
	EXPECT_EQ(child->err(), "velmora: argument \"--frobnicate\" ignored (velmora --help)\n"
	                        "velmora: argument \"mine.bin\" ignored: to show a stream file, set "
	                        "VELMORA_BOARD=mine.bin (velmora --help)\n");
}

// Without an X display there is no window, but there is velmora-serve.
TEST_F(E2eOptions, NoDisplayNamesVelmoraServe)
{
	Child c({VELMORA_BINARY}, {{"DISPLAY", ":nowhere"}, {"VELMORA_BOARD", "file:/dev/null"}});
	int status = -1;
	ASSERT_TRUE(c.wait_exit(&status));
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << c.both();
	EXPECT_NE(c.err().find("failed to open display ':nowhere'\n"), std::string::npos) << c.err();
	EXPECT_NE(c.err().find("velmora-serve"), std::string::npos) << c.err();
}

using E2eCapture = E2eTest;

// Every byte the board sent, damage and all, lands in the capture file in
// order, and nothing is lost when the window is closed right after.
TEST_F(E2eCapture, FileHoldsExactlyWhatTheBoardSent)
{
	TempDir tmp;
	const fs::path capture = tmp.path() / "board.bin";
	uint16_t port = free_port();
	ASSERT_NE(port, 0);
	Running r = start_with_window(
	        {{"VELMORA_BOARD", "tcp:" + std::to_string(port)}, {"VELMORA_CAPTURE", capture.string()}},
	        'y');
	ASSERT_NE(r.window, 0u);

	const Segment last = {100, 400, 900, 400, Colour::Black};
	Stream s;
	s.word(0x1234).sync();  // bytes before the pair are dropped, but captured
	for (uint16_t i = 0; i < 300; i++)
		s.frame({{100, i, 900, i, Colour::Red}});
	s.frame({last});
	int fd = connect_local(port);
	ASSERT_GE(fd, 0);
	ASSERT_TRUE(write_fully(fd, s.bytes()));
	close(fd);
	ASSERT_EQ(wait_for_picture(r.window, {last}), "");

	close_window(r.window);
	ASSERT_TRUE(r.child->wait_exit());
	EXPECT_TRUE(read_file(capture) == s.bytes())
	        << read_file(capture).size() << " of " << s.bytes().size() << " bytes";
}

// A window destroyed from outside (as some window managers and tools do)
// is a closed one: the program ends, and the capture is whole.
TEST_F(E2eCapture, WindowDestroyedFromOutsideEndsTheProgram)
{
	TempDir tmp;
	const fs::path capture = tmp.path() / "board.bin";
	const Segment line = {100, 300, 900, 300, Colour::Red};
	const std::string bytes = Stream().sync().frame({line}).bytes();
	Running r = start_with_window(
	        {{"VELMORA_BOARD", "fifo:" + tmp.fifo("board")}, {"VELMORA_CAPTURE", capture}}, 'y');
	ASSERT_NE(r.window, 0u);
	FifoWriter writer(tmp.path() / "board");
	ASSERT_TRUE(writer.open());
	ASSERT_TRUE(writer.write(bytes));
	ASSERT_EQ(wait_for_picture(r.window, {line}), "");

	destroy_window(r.window);
	int status = -1;
	ASSERT_TRUE(r.child->wait_exit(&status)) << "still running without its window";
	EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "wait status " << status << "\n"
	                                                           << r.child->err();
	EXPECT_TRUE(read_file(capture) == bytes) << read_file(capture).size() << " of " << bytes.size();
}

// A capture that cannot be opened or written is said once; the display
// goes on.
TEST_F(E2eCapture, UnwritableFileIsSaidOnceAndTheDisplayGoesOn)
{
	const Segment line = {100, 300, 900, 300, Colour::Blue};
	TempDir tmp;
	const std::string board = tmp.file("board", Stream().sync().frame({line}).bytes());
	for (const char *path : {"/nonexistent/board.bin", "/dev/full"}) {
		Running r = start_with_window({{"VELMORA_BOARD", board}, {"VELMORA_CAPTURE", path}}, 'n');
		ASSERT_NE(r.window, 0u);
		EXPECT_EQ(wait_for_picture(r.window, {line}), "") << path;
		sleep_ms(300);  // past a flush or two
		std::string err = r.child->err();
		EXPECT_NE(err.find(path), std::string::npos) << err;
		EXPECT_EQ(err.find('\n'), err.size() - 1) << "one line: " << err;
		EXPECT_TRUE(r.child->running()) << path;
	}
}

// Nothing is destroyed: the board's own file, even under another name, is
// refused; an earlier capture is kept and this one goes to the next free
// name.  Both are said on stderr.
TEST_F(E2eCapture, NeitherTheBoardsFileNorAnEarlierCaptureIsOverwritten)
{
	const Segment line = {100, 300, 900, 300, Colour::Blue};
	const std::string bytes = Stream().sync().frame({line}).bytes();
	TempDir tmp;
	const std::string board = tmp.file("board.bin", bytes);
	const fs::path same = tmp.path() / "same.bin", earlier = tmp.path() / "capture.bin";
	fs::create_hard_link(board, same);
	write_file(earlier, "earlier");
	for (const fs::path &capture : {same, earlier}) {
		Running r = start_with_window(
		        {{"VELMORA_BOARD", "file:" + board}, {"VELMORA_CAPTURE", capture}}, 'n');
		ASSERT_NE(r.window, 0u);
		EXPECT_EQ(wait_for_picture(r.window, {line}), "") << capture;
		close_window(r.window);
		ASSERT_TRUE(r.child->wait_exit());
		EXPECT_NE(r.child->err().find(capture.string()), std::string::npos) << r.child->err();
	}
	EXPECT_TRUE(read_file(board) == bytes);
	EXPECT_EQ(read_file(earlier), "earlier");
	EXPECT_TRUE(read_file(tmp.path() / "capture-2.bin") == bytes);
}

using E2eKeys = E2eTest;

// s writes what the window shows, pixel for pixel, and says where.
TEST_F(E2eKeys, SSavesTheWindowAsItIsShown)
{
	TempDir tmp;
	Stream s;
	s.sync().clear().segments({{100, 100, 900, 700, Colour::Red}, {50, 600, 950, 600, Colour::Blue}});
	s.move_to(Colour::Black, 200, 300).text(vw_attribute_byte(4, VW_BLACK, 0), "SAVED").end_frame();
	const std::string board = tmp.file("board", s.bytes());
	for (char answer : {'y', 'n'}) {
		Running r = start_with_window({{"VELMORA_BOARD", board}}, answer, tmp.path());
		ASSERT_NE(r.window, 0u);
		Image shown;
		ASSERT_TRUE(wait_until(
		        [&] { return grab(r.window, &shown) && count_colour(shown, Colour::Blue) > 0; }));
		press_key(r.window, "q");  // no other key does anything
		const std::string png = save_with_s_key(r);
		ASSERT_NE(png, "") << r.child->both();
		std::string why;
		Image saved = read_png((tmp.path() / png).string(), &why);
		EXPECT_EQ(why, "");
		EXPECT_EQ(differences(saved, shown), "") << answer;
		EXPECT_NE(read_file(tmp.path() / (png.substr(0, png.size() - 4) + ".svg")).find("<polyline"),
		          std::string::npos);
		for (const auto &e : fs::directory_iterator(tmp.path()))
			if (e.path().filename().string().rfind("velmora-", 0) == 0)
				fs::remove(e.path());
	}
}

}  // namespace
}  // namespace e2e
