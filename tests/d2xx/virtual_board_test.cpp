// The virtual board, and through it the argument checks that both backends
// share.
#include <atomic>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

#include "stream/encode.h"
#include "tests/d2xx/d2xx_test.h"

namespace
{

using namespace d2xx_test;

struct Listed {
	FT_STATUS status;
	uint32_t flags, type, id, loc_id;
	std::string serial, description;
	FT_HANDLE handle;
};

Listed detail(uint32_t i)
{
	Listed d;
	char serial[ft_serial_size], description[ft_description_size];
	d.status = FT_GetDeviceInfoDetail(i, &d.flags, &d.type, &d.id, &d.loc_id, serial, description,
	                                  &d.handle);
	if (d.status == FT_OK) {
		d.serial = serial;
		d.description = description;
	}
	return d;
}

uint32_t device_count()
{
	uint32_t n = 12345;
	EXPECT_EQ(FT_CreateDeviceInfoList(&n), FT_OK);
	return n;
}

int connect_to(uint16_t port)
{
	int s = connect_local(port);
	EXPECT_GE(s, 0) << strerror(errno);
	return s;
}

void send_all(int fd, const Bytes &b)
{
	write_fully(fd, b.data(), b.size());
}

// A writer that comes, writes and goes; its open waits for the reader.
void write_fifo(const std::string &fifo, const Bytes &b)
{
	int fd = open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
	send_all(fd, b);
	close(fd);
}

// What one queue query reports, read as the program reads it.
Bytes take(FT_HANDLE h)
{
	Bytes got;
	unsigned char block[4096];
	uint32_t waiting = 0, n;
	EXPECT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
	while (got.size() < waiting &&
	       FT_Read(h, block, std::min(waiting - (uint32_t)got.size(), (uint32_t)sizeof block), &n) ==
	               FT_OK &&
	       n > 0)
		got.insert(got.end(), block, block + n);
	return got;
}

class VirtualBoard : public D2xxTest
{
      protected:
	// A board playing bytes from a file, opened as the program opens it.
	FT_HANDLE open_file(const Bytes &bytes, const char *rate = "0")
	{
		set("VELMORA_BOARD", "file:" + tmp.file("stream.bin", bytes));
		set("VELMORA_BOARD_RATE", rate);
		return open_first();
	}

	static FT_HANDLE open_first()
	{
		FT_HANDLE h = nullptr;
		device_count();
		EXPECT_EQ(FT_Open(0, &h), FT_OK);
		return h;
	}

	static FT_STATUS open_status()
	{
		FT_HANDLE h = nullptr;
		device_count();
		return FT_Open(0, &h);
	}
};

// --- the device list ---

TEST_F(VirtualBoard, DefaultListIsOneUnopenedFT232R)
{
	set("VELMORA_BOARD", "/nonexistent");  // the listing needs no source
	ASSERT_EQ(device_count(), 1u);
	Listed d = detail(0);
	ASSERT_EQ(d.status, FT_OK);
	EXPECT_EQ(d.flags, 0u);
	EXPECT_EQ(d.type, FT_DEVICE_232R);
	EXPECT_EQ(d.id, 0x04036001u);
	EXPECT_EQ(d.loc_id, 0x1000u);
	EXPECT_EQ(d.serial, "VB0000");
	EXPECT_EQ(d.description, "FT232R USB UART");
	EXPECT_EQ(d.handle, nullptr);
	EXPECT_EQ(detail(1).status, FT_DEVICE_NOT_FOUND);
}

TEST_F(VirtualBoard, DeviceListEntriesSerialsAndLocations)
{
	set("VELMORA_BOARD", "/nonexistent");
	set("VELMORA_BOARD_DEVICES", "FT232R USB UART;Other@S123;;ft232r usb uart@;a@b@c");
	ASSERT_EQ(device_count(), 5u);
	const char *serials[] = {"VB0000", "S123", "VB0002", "", "c"};
	const char *descriptions[] = {"FT232R USB UART", "Other", "", "ft232r usb uart", "a@b"};
	for (uint32_t i = 0; i < 5; i++) {
		Listed d = detail(i);
		ASSERT_EQ(d.status, FT_OK);
		EXPECT_EQ(d.serial, serials[i]) << i;
		EXPECT_EQ(d.description, descriptions[i]) << i;
		EXPECT_EQ(d.loc_id, 0x1000u + i);
	}
}

TEST_F(VirtualBoard, EmptyDeviceListHasNoDevices)
{
	set("VELMORA_BOARD", "/nonexistent");
	set("VELMORA_BOARD_DEVICES", "");
	EXPECT_EQ(device_count(), 0u);
	EXPECT_EQ(detail(0).status, FT_DEVICE_NOT_FOUND);
	FT_HANDLE h;
	EXPECT_EQ(FT_Open(0, &h), FT_DEVICE_NOT_FOUND);
}

TEST_F(VirtualBoard, LongStringsAreCutToTheirBuffers)
{
	set("VELMORA_BOARD", "/nonexistent");
	set("VELMORA_BOARD_DEVICES", std::string(100, 'd') + "@" + std::string(40, 's'));
	ASSERT_EQ(device_count(), 1u);
	// Canaries just past the 16 and 64 bytes the caller owns.
	char serial[ft_serial_size + 8], description[ft_description_size + 8];
	memset(serial, '#', sizeof serial);
	memset(description, '#', sizeof description);
	uint32_t flags, type, id, loc;
	FT_HANDLE handle;
	ASSERT_EQ(FT_GetDeviceInfoDetail(0, &flags, &type, &id, &loc, serial, description, &handle), FT_OK);
	EXPECT_EQ(std::string(serial), std::string(15, 's'));
	EXPECT_EQ(std::string(description), std::string(63, 'd'));
	EXPECT_EQ(serial[ft_serial_size], '#');
	EXPECT_EQ(description[ft_description_size], '#');
}

TEST_F(VirtualBoard, OpenDeviceIsFlaggedAndDescribed)
{
	set("VELMORA_BOARD", tmp.file("s", ""));  // a bare path is a file
	set("VELMORA_BOARD_DEVICES", "Other@S1;FT232R USB UART@S2");
	ASSERT_EQ(device_count(), 2u);
	FT_HANDLE h = nullptr;
	ASSERT_EQ(FT_Open(1, &h), FT_OK);
	ASSERT_NE(h, nullptr);

	Listed d = detail(1);
	EXPECT_EQ(d.flags, FT_FLAGS_OPENED);
	EXPECT_EQ(d.handle, h);
	EXPECT_EQ(detail(0).flags, 0u);
	EXPECT_EQ(detail(0).handle, nullptr);

	FT_DEVICE type;
	uint32_t id;
	char serial[ft_serial_size], description[ft_description_size];
	ASSERT_EQ(FT_GetDeviceInfo(h, &type, &id, serial, description, nullptr), FT_OK);
	EXPECT_EQ(type, FT_DEVICE_232R);
	EXPECT_EQ(id, 0x04036001u);
	EXPECT_STREQ(serial, "S2");
	EXPECT_STREQ(description, "FT232R USB UART");
	EXPECT_EQ(set_up(h), FT_OK);

	// One source feeds one device; an open device is not opened twice.
	FT_HANDLE again = &again;
	EXPECT_EQ(FT_Open(1, &again), FT_DEVICE_NOT_OPENED);
	EXPECT_EQ(again, nullptr);
	EXPECT_EQ(FT_Open(0, &again), FT_DEVICE_NOT_OPENED);
}

// --- argument checks (ftd2xx.cpp, the same for every backend) ---

TEST_F(VirtualBoard, NullPointersAreInvalidParameters)
{
	FT_HANDLE h = open_file(Bytes{1, 2, 3});
	uint32_t u = 0;
	FT_DEVICE type;
	FT_HANDLE handle;
	char serial[ft_serial_size], description[ft_description_size];
	unsigned char buf[4];

	EXPECT_EQ(FT_CreateDeviceInfoList(nullptr), FT_INVALID_PARAMETER);
	EXPECT_EQ(FT_GetDeviceInfoDetail(0, nullptr, &u, &u, &u, serial, description, &handle),
	          FT_INVALID_PARAMETER);
	EXPECT_EQ(FT_GetDeviceInfoDetail(0, &u, &u, &u, &u, nullptr, description, &handle),
	          FT_INVALID_PARAMETER);
	EXPECT_EQ(FT_GetDeviceInfoDetail(0, &u, &u, &u, &u, serial, description, nullptr),
	          FT_INVALID_PARAMETER);
	EXPECT_EQ(FT_Open(0, nullptr), FT_INVALID_PARAMETER);
	EXPECT_EQ(FT_GetDeviceInfo(h, &type, &u, serial, nullptr, nullptr), FT_INVALID_PARAMETER);
	EXPECT_EQ(FT_GetQueueStatus(h, nullptr), FT_INVALID_PARAMETER);
	EXPECT_EQ(FT_Read(h, nullptr, 4, &u), FT_INVALID_PARAMETER);
	EXPECT_EQ(FT_Read(h, buf, 4, nullptr), FT_INVALID_PARAMETER);

	// A read of nothing is no error and moves nothing.
	u = 99;
	EXPECT_EQ(FT_Read(h, nullptr, 0, &u), FT_OK);
	EXPECT_EQ(u, 0u);
	EXPECT_EQ(drain(h, 3), (Bytes{1, 2, 3}));
}

TEST_F(VirtualBoard, UnknownHandlesAreRejectedAndCountsZeroed)
{
	FT_HANDLE h = open_file(Bytes{1});
	int not_a_device = 0;
	unsigned char buf[4];
	for (FT_HANDLE bad : {(FT_HANDLE) nullptr, (FT_HANDLE)&not_a_device, (FT_HANDLE)((char *)h + 1)}) {
		uint32_t waiting = 77, got = 77;
		EXPECT_EQ(FT_ResetDevice(bad), FT_INVALID_HANDLE);
		EXPECT_EQ(FT_SetBaudRate(bad, 1500000), FT_INVALID_HANDLE);
		EXPECT_EQ(FT_Purge(bad, 3), FT_INVALID_HANDLE);
		EXPECT_EQ(FT_GetQueueStatus(bad, &waiting), FT_INVALID_HANDLE);
		EXPECT_EQ(FT_Read(bad, buf, 4, &got), FT_INVALID_HANDLE);
		EXPECT_EQ(waiting, 0u);
		EXPECT_EQ(got, 0u);
	}
	// The handle of a device closed since is unknown too.
	d2xx_reset();
	EXPECT_EQ(FT_ResetDevice(h), FT_INVALID_HANDLE);
}

TEST_F(VirtualBoard, OutOfRangeIndexesAndValues)
{
	FT_HANDLE h = open_file(Bytes{1});
	FT_HANDLE other;
	EXPECT_EQ(FT_Open(-1, &other), FT_DEVICE_NOT_FOUND);
	EXPECT_EQ(FT_Open(1, &other), FT_DEVICE_NOT_FOUND);
	EXPECT_EQ(detail(1).status, FT_DEVICE_NOT_FOUND);

	for (uint32_t baud : {0u, 182u, 3000001u})
		EXPECT_EQ(FT_SetBaudRate(h, baud), FT_INVALID_BAUD_RATE) << baud;
	for (uint32_t baud : {183u, 9600u, 3000000u})
		EXPECT_EQ(FT_SetBaudRate(h, baud), FT_OK) << baud;

	EXPECT_EQ(FT_SetFlowControl(h, 0x0300, 0, 0), FT_INVALID_PARAMETER);
	EXPECT_EQ(FT_SetFlowControl(h, FT_FLOW_XON_XOFF, 0x11, 0x13), FT_OK);
	EXPECT_EQ(FT_SetDataCharacteristics(h, 9, 0, 0), FT_INVALID_PARAMETER);
	EXPECT_EQ(FT_SetDataCharacteristics(h, 8, 1, 0), FT_INVALID_PARAMETER);
	EXPECT_EQ(FT_SetDataCharacteristics(h, 8, 0, 5), FT_INVALID_PARAMETER);
	EXPECT_EQ(FT_SetDataCharacteristics(h, 7, 2, FT_PARITY_SPACE), FT_OK);
	for (uint32_t size : {0u, 100u, 65600u})
		EXPECT_EQ(FT_SetUSBParameters(h, size, 0), FT_INVALID_PARAMETER) << size;
	EXPECT_EQ(FT_SetUSBParameters(h, 64, 0), FT_OK);
	EXPECT_EQ(FT_Purge(h, 4), FT_INVALID_PARAMETER);
	EXPECT_EQ(FT_Purge(h, 0), FT_OK);
}

// --- sources ---

TEST_F(VirtualBoard, FileSourcePlaysEveryByteOnceThenSilence)
{
	Bytes bytes = pattern(200000);
	FT_HANDLE h = open_file(bytes);
	// Set-up ends with a purge: bytes only reach the queue when asked for,
	// so it must not cost the file its start.
	ASSERT_EQ(set_up(h), FT_OK);
	EXPECT_EQ(drain(h, bytes.size()), bytes);
	expect_idle_waits_briefly(h);
}

// A .vel board file is the stream's text form: the board plays what the
// encoder makes of it; one that does not parse fails the open with the
// encoder's FILE:LINE:COLUMN; a file of text under another name plays as
// it is, with one hint on stderr.
TEST_F(VirtualBoard, TextFormBoardFilesAreEncoded)
{
	const std::string text = "sync\nOP_CLEAR\nmoveto 100 200 blue\nlineto 300 200\nOP_END_FRAME\n";
	const Encoded e = encode_text(text);
	ASSERT_EQ(e.errors, 0);
	set("VELMORA_BOARD", tmp.file("card.vel", text));
	set("VELMORA_BOARD_RATE", "0");
	FT_HANDLE h = open_first();
	ASSERT_EQ(set_up(h), FT_OK);
	EXPECT_EQ(drain(h, e.bytes.size(), 500), Bytes(e.bytes.begin(), e.bytes.end()));

	d2xx_reset();
	const std::string bad = tmp.file("bad.vel", "sync\nOP_CLEAR\nlineto 100\n");
	set("VELMORA_BOARD", "file:" + bad);
	testing::internal::CaptureStderr();
	EXPECT_EQ(open_status(), FT_DEVICE_NOT_OPENED);
	std::string err = testing::internal::GetCapturedStderr();
	EXPECT_NE(err.find(bad + ":3:"), std::string::npos) << err;

	d2xx_reset();
	set("VELMORA_BOARD", tmp.file("card.txt", text));
	testing::internal::CaptureStderr();
	h = open_first();
	err = testing::internal::GetCapturedStderr();
	EXPECT_NE(err.find("velmora-encode"), std::string::npos) << err;
	EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
	EXPECT_EQ(drain(h, text.size(), 500), Bytes(text.begin(), text.end()));
}

TEST_F(VirtualBoard, PurgeDropsOnlyWhatWasQueued)
{
	Bytes bytes = pattern(100000);
	FT_HANDLE h = open_file(bytes);
	uint32_t waiting = 0;
	ASSERT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
	ASSERT_EQ(waiting, virtual_queue_size);  // unlimited rate: as much as fits
	ASSERT_EQ(FT_Purge(h, FT_PURGE_RX), FT_OK);
	Bytes rest(bytes.begin() + virtual_queue_size, bytes.end());
	EXPECT_EQ(drain(h, rest.size()), rest);
}

TEST_F(VirtualBoard, SourceThatCannotBeOpenedFailsTheOpen)
{
	set("VELMORA_BOARD", "file:" + (dir / "missing").string());
	EXPECT_EQ(open_status(), FT_DEVICE_NOT_OPENED);
	for (const char *board : {"file:", "fifo:", "tcp:", "tcp:0", "tcp:70000", "tcp:80x"}) {
		d2xx_reset();
		set("VELMORA_BOARD", board);
		EXPECT_EQ(device_count(), 1u) << board;  // the list still works
		EXPECT_EQ(open_status(), FT_DEVICE_NOT_OPENED) << board;
	}
}

TEST_F(VirtualBoard, FifoTakesWritersThatComeLaterOrAgain)
{
	const std::string fifo = tmp.fifo("board");
	set("VELMORA_BOARD", "fifo:" + fifo);
	set("VELMORA_BOARD_RATE", "0");
	FT_HANDLE h = open_first();  // no writer yet: must not wait for one
	ASSERT_EQ(set_up(h), FT_OK);
	expect_idle_waits_briefly(h);

	for (const Bytes &part : {pattern(5000), Bytes{0xFF, 0x80, 0x00}}) {
		std::thread writer([&] { write_fifo(fifo, part); });
		EXPECT_EQ(drain(h, part.size()), part);
		writer.join();
		// The writer has gone: the fifo reports hang-up until the next one,
		// which must not turn idle queries into a busy loop.
		expect_idle_waits_briefly(h);
	}
}

TEST_F(VirtualBoard, PipeNamedAsFileIsStillAStream)
{
	const std::string fifo = tmp.fifo("board");
	set("VELMORA_BOARD", fifo);
	FT_HANDLE h = open_first();
	expect_idle_waits_briefly(h);  // reads its end before any writer came
	Bytes bytes = pattern(100);
	std::thread writer([&] { write_fifo(fifo, bytes); });
	EXPECT_EQ(drain(h, bytes.size()), bytes);
	writer.join();
}

TEST_F(VirtualBoard, FullQueueLeavesBytesWithTheWriter)
{
	const std::string fifo = tmp.fifo("board");
	set("VELMORA_BOARD", "fifo:" + fifo);
	set("VELMORA_BOARD_RATE", "0");
	FT_HANDLE h = open_first();

	Bytes bytes = pattern(1 << 20);
	std::atomic<bool> written{false};
	std::atomic<size_t> sent{0};
	std::thread writer([&] {
		int fd = open(fifo.c_str(), O_WRONLY);
		for (size_t at = 0; at < bytes.size(); at += 1024) {
			send_all(fd, Bytes(bytes.begin() + (long)at, bytes.begin() + (long)at + 1024));
			sent = at + 1024;
		}
		close(fd);
		written = true;
	});
	uint32_t waiting = 0;
	auto start = Clock::now();
	while (waiting < virtual_queue_size && ms_since(start) < 5000)
		ASSERT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
	ASSERT_EQ(waiting, virtual_queue_size);
	// A reader that pauses: the queue stays full and the writer waits.
	std::this_thread::sleep_for(std::chrono::milliseconds(50));
	ASSERT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
	EXPECT_EQ(waiting, virtual_queue_size);
	EXPECT_FALSE(written);
	// Like a real link, the writer stays close: less than half a second of
	// line-rate bytes in the queue and the pipe together.
	EXPECT_LT(sent.load(), 75000u);

	EXPECT_EQ(drain(h, bytes.size()), bytes);
	writer.join();
	EXPECT_TRUE(written);
}

TEST_F(VirtualBoard, TcpServesOneClientAtATimeInTurn)
{
	uint16_t port = free_port();
	set("VELMORA_BOARD", "tcp:" + std::to_string(port));
	set("VELMORA_BOARD_RATE", "0");
	FT_HANDLE h = open_first();
	expect_idle_waits_briefly(h);  // nobody connected

	Bytes first = pattern(3000), second = Bytes(2000, 0xAB);
	int a = connect_to(port);
	send_all(a, first);
	int b = connect_to(port);  // waits its turn in the backlog
	send_all(b, second);
	EXPECT_EQ(drain(h, first.size() + 1, 200), first);
	close(a);
	EXPECT_EQ(drain(h, second.size()), second);
	close(b);

	// The board comes back, as a board that reconnects would.
	int c = connect_to(port);
	send_all(c, first);
	close(c);
	EXPECT_EQ(drain(h, first.size()), first);
	expect_idle_waits_briefly(h);
}

// --- rate ---

TEST_F(VirtualBoard, RateLimitsBytesIntoTheQueue)
{
	const double rate = 20000;  // bytes per second
	set("VELMORA_BOARD", tmp.file("s", pattern(100000)));
	set("VELMORA_BOARD_RATE", "20000");
	auto before_open = Clock::now();
	FT_HANDLE h = open_first();
	auto after_open = Clock::now();
	size_t got = take(h).size();  // no burst at the start
	EXPECT_LT(got, 1000u);
	while (ms_since(after_open) < 300)
		got += take(h).size();
	double lower = rate * ms_since(after_open) / 1000;
	got += take(h).size();
	double upper = rate * ms_since(before_open) / 1000 + 1;
	EXPECT_GE((double)got, lower * 0.5);
	EXPECT_LE((double)got, upper);
}

TEST_F(VirtualBoard, DefaultRateIsTheLineRate)
{
	set("VELMORA_BOARD", tmp.file("s", pattern(200000)));
	auto before_open = Clock::now();
	FT_HANDLE h = open_first();
	std::this_thread::sleep_for(std::chrono::milliseconds(100));
	size_t got = take(h).size();
	EXPECT_GE(got, 150000 * 0.1 * 0.5);
	EXPECT_LE((double)got, 150000 * ms_since(before_open) / 1000 + 1);
}

TEST_F(VirtualBoard, BadRateFailsTheOpen)
{
	set("VELMORA_BOARD", tmp.file("s", "x"));
	for (const char *r : {"", "abc", "-1", "1.5", " 5", "1e5", "99999999999999999999"}) {
		d2xx_reset();
		set("VELMORA_BOARD_RATE", r);
		EXPECT_EQ(open_status(), FT_DEVICE_NOT_OPENED) << '"' << r << '"';
	}
}

// --- failure injection ---

// The program's calls in its order, each made once; returns the statuses.
std::vector<FT_STATUS> program_calls()
{
	std::vector<FT_STATUS> s;
	uint32_t n = 0, u;
	FT_HANDLE h = nullptr, t;
	char serial[ft_serial_size], description[ft_description_size];
	FT_DEVICE type;
	unsigned char buf[16];
	s.push_back(FT_CreateDeviceInfoList(&n));
	s.push_back(FT_GetDeviceInfoDetail(0, &u, &u, &u, &u, serial, description, &t));
	s.push_back(FT_Open(0, &h));
	s.push_back(FT_GetDeviceInfo(h, &type, &u, serial, description, nullptr));
	s.push_back(FT_ResetDevice(h));
	s.push_back(FT_SetBaudRate(h, 1500000));
	s.push_back(FT_SetFlowControl(h, FT_FLOW_RTS_CTS, 0, 0));
	s.push_back(FT_SetDataCharacteristics(h, 8, 0, 0));
	s.push_back(FT_SetUSBParameters(h, 16384, 0));
	s.push_back(FT_Purge(h, 3));
	s.push_back(FT_GetQueueStatus(h, &u));
	s.push_back(FT_Read(h, buf, 1, &u));
	return s;
}

TEST_F(VirtualBoard, EachOperationCanBeMadeToFail)
{
	set("VELMORA_BOARD", tmp.file("s", "abc"));
	for (int op = 0; op < op_count; op++) {
		d2xx_reset();
		set("VELMORA_BOARD_FAIL", d2xx_op_names[op]);
		std::vector<FT_STATUS> s = program_calls();
		for (int i = 0; i < op_count; i++) {
			FT_STATUS want = FT_OK;
			if (i == op)
				want = FT_IO_ERROR;
			else if (op == op_Open && i > op)  // a failed open leaves no handle
				want = FT_INVALID_HANDLE;
			EXPECT_EQ(s[i], want) << d2xx_op_names[op] << " failing, at " << d2xx_op_names[i];
		}
	}
}

TEST_F(VirtualBoard, FailureOfOneNumberedCallOrOfEvery)
{
	set("VELMORA_BOARD", tmp.file("s", pattern(10)));
	set("VELMORA_BOARD_FAIL", "FT_Read@2");
	FT_HANDLE h = open_first();
	unsigned char b;
	uint32_t got;
	std::vector<FT_STATUS> reads;
	for (int i = 0; i < 4; i++)
		reads.push_back(FT_Read(h, &b, 1, &got));
	EXPECT_EQ(reads, (std::vector<FT_STATUS>{FT_OK, FT_OK, FT_IO_ERROR, FT_OK}));

	d2xx_reset();
	set("VELMORA_BOARD_FAIL", "FT_Purge");
	h = open_first();
	EXPECT_EQ(FT_Purge(h, 3), FT_IO_ERROR);
	EXPECT_EQ(FT_Purge(h, 3), FT_IO_ERROR);
	EXPECT_EQ(FT_ResetDevice(h), FT_OK);
}

TEST_F(VirtualBoard, BadFailureSettingFailsTheOpen)
{
	set("VELMORA_BOARD", tmp.file("s", "x"));
	for (const char *f : {"FT_Bogus", "FT_Read@", "FT_Read@x", "FT_Read@-1", "ft_read", "FT_Read@1@2"}) {
		d2xx_reset();
		set("VELMORA_BOARD_FAIL", f);
		EXPECT_EQ(open_status(), FT_DEVICE_NOT_OPENED) << f;
	}
}

}  // namespace
