// Scripted double of the twelve device operations: a device list, a
// receive queue, and failures on chosen calls.  Every call is recorded.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct FtFakeDevice {
	uint32_t flags = 0, type = 5, id = 0x04036001, loc_id = 0;
	std::string serial = "S0", description = "FT232R USB UART";
};

struct FtScript {
	std::vector<FtFakeDevice> devices;
	std::map<std::string, int> fail_call;  // operation -> the call (from 0) that fails
	int32_t count_on_failure = 7;          // what a failing enumeration leaves in the count
	bool unterminated_strings = false;     // fill the string buffers with no NUL at all
	std::vector<uint8_t> rx;               // bytes waiting in the device's queue
	int64_t report_extra = 0;              // FT_Read claims this many more bytes than it stored
	uint32_t read_limit = 0xFFFFFFFF;      // FT_Read stores at most this many
};

extern FtScript ft;
extern std::vector<std::string> ft_calls;  // "FT_Open(2)", "FT_Read(4096)", ...

void ft_reset();
