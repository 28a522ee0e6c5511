#include "d2xx/helpers.h"

#include <windows.h>

int d2xx_wait_windows(void *const *handles, int n, int64_t timeout_us)
{
	// Rounded up: a sleep ends late rather than early and then spins.
	DWORD ms = timeout_us < 0 ? INFINITE : (DWORD)((timeout_us + 999) / 1000);
	DWORD r = MsgWaitForMultipleObjectsEx((DWORD)n, (const HANDLE *)handles, ms, QS_ALLINPUT,
	                                      MWMO_INPUTAVAILABLE);
	if (r < WAIT_OBJECT_0 + (DWORD)n)
		return (int)(r - WAIT_OBJECT_0);
	return r == WAIT_OBJECT_0 + (DWORD)n ? n : -1;
}
