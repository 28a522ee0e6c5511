// What both backends' tests share: a clean environment and platform layer
// per case, a scratch folder, and the program's own calling pattern.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "d2xx/backend.h"
#include "tests/support/files.h"

namespace d2xx_test
{

using namespace support;
using Bytes = std::vector<unsigned char>;
using Clock = std::chrono::steady_clock;

inline double ms_since(Clock::time_point t)
{
	return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// Bytes that do not repeat within a megabyte, so a lost, doubled or
// reordered block shows.
inline Bytes pattern(size_t n)
{
	Bytes b(n);
	uint32_t x = 12345;
	for (size_t i = 0; i < n; i++) {
		x = x * 1103515245u + 12345u;
		b[i] = (unsigned char)(x >> 16);
	}
	return b;
}

// Every case starts with no VELMORA_* settings, a fresh platform layer and
// an empty scratch folder, and leaves none of them behind.
class D2xxTest : public ::testing::Test
{
      protected:
	TempDir tmp;
	const fs::path dir = tmp.path();

	void SetUp() override
	{
		clear_environment();
		d2xx_reset();
	}

	void TearDown() override
	{
		d2xx_reset();
		clear_environment();
	}

	static void clear_environment()
	{
		for (const char *v : {"VELMORA_BOARD", "VELMORA_BOARD_DEVICES", "VELMORA_BOARD_RATE",
		                      "VELMORA_BOARD_FAIL", "VELMORA_TTY_SYSFS", "VELMORA_TTY_DEV"})
			unsetenv(v);
	}

	static void set(const char *name, const std::string &value) { setenv(name, value.c_str(), 1); }

	// The program's set-up after the open, stopping at the first failure.
	static FT_STATUS set_up(FT_HANDLE h)
	{
		FT_DEVICE type;
		uint32_t id;
		char serial[ft_serial_size], description[ft_description_size];
		FT_STATUS s;
		if ((s = FT_GetDeviceInfo(h, &type, &id, serial, description, nullptr)) ||
		    (s = FT_ResetDevice(h)) || (s = FT_SetBaudRate(h, 1500000)) ||
		    (s = FT_SetFlowControl(h, FT_FLOW_RTS_CTS, 0, 0)) ||
		    (s = FT_SetDataCharacteristics(h, FT_BITS_8, FT_STOP_BITS_1, FT_PARITY_NONE)) ||
		    (s = FT_SetUSBParameters(h, 16384, 0)) || (s = FT_Purge(h, FT_PURGE_RX | FT_PURGE_TX)))
			return s;
		return FT_OK;
	}

	// Reads as the program does (queue status, then at most 4096) until want
	// bytes came or none came for quiet_ms.  A failed call ends it.
	static Bytes drain(FT_HANDLE h, size_t want, double quiet_ms = 3000)
	{
		Bytes got;
		unsigned char block[4096];
		auto last = Clock::now();
		while (got.size() < want && ms_since(last) < quiet_ms) {
			uint32_t waiting = 0, n = 0;
			if (FT_GetQueueStatus(h, &waiting) != FT_OK)
				break;
			if (waiting == 0) {
				d2xx_wait(h, -1, 10000);
				continue;
			}
			uint32_t ask = waiting < sizeof block ? waiting : (uint32_t)sizeof block;
			if (FT_Read(h, block, ask, &n) != FT_OK)
				break;
			EXPECT_LE(n, ask);
			got.insert(got.end(), block, block + n);
			if (n > 0)
				last = Clock::now();
		}
		return got;
	}

	// With nothing to read, a query answers at once and a wait sleeps its
	// time out instead of spinning.
	static void expect_idle_waits_briefly(FT_HANDLE h)
	{
		const int calls = 50, wait_ms = 2;
		int long_calls = 0;
		timespec cpu0, cpu1;
		clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu0);
		auto start = Clock::now();
		for (int i = 0; i < calls; i++) {
			auto t = Clock::now();
			uint32_t waiting = 99;
			ASSERT_EQ(FT_GetQueueStatus(h, &waiting), FT_OK);
			ASSERT_EQ(waiting, 0u);
			ASSERT_EQ(d2xx_wait(h, -1, wait_ms * 1000), FT_OK);
			if (ms_since(t) >= 20)
				long_calls++;
		}
		double wall = ms_since(start);
		clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpu1);
		double cpu = (double)(cpu1.tv_sec - cpu0.tv_sec) * 1e3 +
		             (double)(cpu1.tv_nsec - cpu0.tv_nsec) / 1e6;
		EXPECT_LE(long_calls, 5);                // a busy machine may delay a few
		EXPECT_GE(wall, calls * wait_ms * 0.9);  // it did wait
		EXPECT_LT(cpu, wall * 0.5);              // and slept while waiting
	}
};

}  // namespace d2xx_test
