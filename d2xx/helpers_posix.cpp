#include "d2xx/helpers.h"

#include <poll.h>

#include <ctime>

int d2xx_poll(pollfd *fds, int n, int64_t timeout_us)
{
	timespec t = {(time_t)(timeout_us / 1000000), (long)(timeout_us % 1000000) * 1000};
	return ppoll(fds, (nfds_t)n, &t, nullptr);
}
