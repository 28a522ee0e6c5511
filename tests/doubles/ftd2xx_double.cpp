#include "tests/doubles/ftd2xx_double.h"

#include <algorithm>
#include <cstring>

#include "d2xx/ftd2xx.h"

FtScript ft;
std::vector<std::string> ft_calls;
static std::map<std::string, int> calls_made;
static int open_device = -1;
static char handle_token;

void ft_reset()
{
	ft = FtScript{};
	ft_calls.clear();
	calls_made.clear();
	open_device = -1;
}

static FT_STATUS step(const std::string &name, const std::string &args = "")
{
	ft_calls.push_back(name + "(" + args + ")");
	int n = calls_made[name]++;
	auto f = ft.fail_call.find(name);
	return f != ft.fail_call.end() && f->second == n ? FT_IO_ERROR : FT_OK;
}

static void put_string(void *to, const std::string &s, size_t size)
{
	if (ft.unterminated_strings) {
		memset(to, 'Z', size);
		return;
	}
	snprintf(static_cast<char *>(to), size, "%s", s.c_str());
}

FT_STATUS FT_CreateDeviceInfoList(uint32_t *n)
{
	if (step("FT_CreateDeviceInfoList") != FT_OK) {
		*n = (uint32_t)ft.count_on_failure;
		return FT_IO_ERROR;
	}
	*n = (uint32_t)ft.devices.size();
	return FT_OK;
}

FT_STATUS FT_GetDeviceInfoDetail(uint32_t i, uint32_t *flags, uint32_t *type, uint32_t *id, uint32_t *loc,
                                 void *serial, void *description, FT_HANDLE *handle)
{
	if (step("FT_GetDeviceInfoDetail", std::to_string(i)) != FT_OK || i >= ft.devices.size())
		return FT_IO_ERROR;
	const FtFakeDevice &d = ft.devices[i];
	*flags = d.flags;
	*type = d.type;
	*id = d.id;
	*loc = d.loc_id;
	put_string(serial, d.serial, ft_serial_size);
	put_string(description, d.description, ft_description_size);
	*handle = nullptr;
	return FT_OK;
}

FT_STATUS FT_Open(int i, FT_HANDLE *handle)
{
	if (step("FT_Open", std::to_string(i)) != FT_OK)
		return FT_DEVICE_NOT_OPENED;
	open_device = i;
	*handle = &handle_token;
	return FT_OK;
}

FT_STATUS FT_GetDeviceInfo(FT_HANDLE, FT_DEVICE *type, uint32_t *id, char *serial, char *description, void *)
{
	if (step("FT_GetDeviceInfo") != FT_OK)
		return FT_IO_ERROR;
	const FtFakeDevice &d = ft.devices.at(open_device);
	*type = d.type;
	*id = d.id;
	put_string(serial, d.serial, ft_serial_size);
	put_string(description, d.description, ft_description_size);
	return FT_OK;
}

FT_STATUS FT_ResetDevice(FT_HANDLE)
{
	return step("FT_ResetDevice");
}
FT_STATUS FT_SetBaudRate(FT_HANDLE, uint32_t rate)
{
	return step("FT_SetBaudRate", std::to_string(rate));
}

FT_STATUS FT_SetFlowControl(FT_HANDLE, uint16_t flow, uint8_t xon, uint8_t xoff)
{
	return step("FT_SetFlowControl",
	            std::to_string(flow) + "," + std::to_string(xon) + "," + std::to_string(xoff));
}

FT_STATUS FT_SetDataCharacteristics(FT_HANDLE, uint8_t bits, uint8_t stop, uint8_t parity)
{
	return step("FT_SetDataCharacteristics",
	            std::to_string(bits) + "," + std::to_string(stop) + "," + std::to_string(parity));
}

FT_STATUS FT_SetUSBParameters(FT_HANDLE, uint32_t in, uint32_t out)
{
	return step("FT_SetUSBParameters", std::to_string(in) + "," + std::to_string(out));
}

FT_STATUS FT_Purge(FT_HANDLE, uint32_t mask)
{
	return step("FT_Purge", std::to_string(mask));
}

FT_STATUS FT_GetQueueStatus(FT_HANDLE, uint32_t *amount)
{
	if (step("FT_GetQueueStatus") != FT_OK)
		return FT_IO_ERROR;
	*amount = (uint32_t)ft.rx.size();
	return FT_OK;
}

FT_STATUS FT_Read(FT_HANDLE, void *to, uint32_t n, uint32_t *received)
{
	if (step("FT_Read", std::to_string(n)) != FT_OK)
		return FT_IO_ERROR;
	uint32_t k = std::min<uint32_t>({n, (uint32_t)ft.rx.size(), ft.read_limit});
	memcpy(to, ft.rx.data(), k);
	ft.rx.erase(ft.rx.begin(), ft.rx.begin() + k);
	*received = (uint32_t)(k + ft.report_extra);
	return FT_OK;
}

FT_STATUS d2xx_wait(FT_HANDLE, int, int64_t timeout_us)
{
	return step("d2xx_wait", std::to_string(timeout_us));
}

bool d2xx_reads_from(FT_HANDLE, const char *)
{
	return false;
}
