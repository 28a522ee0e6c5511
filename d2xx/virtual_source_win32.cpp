// The virtual board's source on Windows: a file, or TCP clients on
// 127.0.0.1 (Winsock).  fifo: has no Windows counterpart here and is
// refused with a line that says what to use instead.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "common/config.h"
#include "common/os.h"
#include "d2xx/helpers.h"
#include "d2xx/virtual_source.h"

static source_kind kind;
static const char *path_given = "";
static HANDLE file = INVALID_HANDLE_VALUE;
static BY_HANDLE_FILE_INFORMATION file_id;  // what source_reads_from compares
static SOCKET listener = INVALID_SOCKET, client = INVALID_SOCKET;
static WSAEVENT socket_event = WSA_INVALID_EVENT;  // accept or bytes on the socket watched

// Windows' text for an error code, without its line end.
static bool open_listener(uint16_t port)
{
	WSADATA w;
	if (WSAStartup(MAKEWORD(2, 2), &w) != 0) {
		d2xx_note("virtual board: Winsock: %s", os_error_text((DWORD)WSAGetLastError()));
		return false;
	}
	listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
	if (listener == INVALID_SOCKET) {
		d2xx_note("virtual board: socket: %s", os_error_text((DWORD)WSAGetLastError()));
		return false;
	}
	// Before listen(), so that every client's socket starts with it.
	int size = virtual_kernel_buffer;
	setsockopt(listener, SOL_SOCKET, SO_RCVBUF, (const char *)&size, sizeof size);
	BOOL exclusive = TRUE;
	setsockopt(listener, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, (const char *)&exclusive, sizeof exclusive);
	sockaddr_in a;
	memset(&a, 0, sizeof a);
	a.sin_family = AF_INET;
	a.sin_port = htons(port);
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	if (bind(listener, (sockaddr *)&a, sizeof a) != 0 || listen(listener, 4) != 0) {
		d2xx_note("virtual board: cannot listen on 127.0.0.1:%u: %s", port,
		          os_error_text((DWORD)WSAGetLastError()));
		source_close();
		return false;
	}
	socket_event = WSACreateEvent();
	WSAEventSelect(listener, socket_event, FD_ACCEPT);  // makes it non-blocking too
	return true;
}

bool source_open(source_kind k, const char *path, uint16_t port, bool *regular)
{
	kind = k;
	path_given = path;
	*regular = false;
	if (kind == source_tcp)
		return open_listener(port);
	if (kind == source_fifo) {
		d2xx_note("virtual board: fifo:%s: Windows has no fifos here; give its bytes as "
		          "tcp:PORT, or as file:PATH",
		          path);
		return false;
	}
	DWORD attributes = GetFileAttributesA(path);
	if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
		d2xx_note("virtual board: cannot read %s: it is a directory", path);
		return false;
	}
	file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
	                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
	if (file == INVALID_HANDLE_VALUE) {
		d2xx_note("virtual board: cannot open %s: %s", path, os_error_text(GetLastError()));
		return false;
	}
	if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &file_id)) {
		d2xx_note("virtual board: cannot read %s: it is not a file", path);
		source_close();
		return false;
	}
	*regular = true;
	return true;
}

void source_close()
{
	if (file != INVALID_HANDLE_VALUE)
		CloseHandle(file);
	if (client != INVALID_SOCKET)
		closesocket(client);
	if (listener != INVALID_SOCKET)
		closesocket(listener);
	if (socket_event != WSA_INVALID_EVENT)
		WSACloseEvent(socket_event);
	file = INVALID_HANDLE_VALUE;
	client = listener = INVALID_SOCKET;
	socket_event = WSA_INVALID_EVENT;
}

static long socket_read(void *buf, size_t n)
{
	for (;;) {
		if (client == INVALID_SOCKET) {
			client = accept(listener, nullptr, nullptr);
			if (client == INVALID_SOCKET)
				return source_none;  // nobody waiting, or one who gave up
			WSAEventSelect(client, socket_event, FD_READ | FD_CLOSE);
		}
		int k = recv(client, (char *)buf, n > INT32_MAX ? INT32_MAX : (int)n, 0);
		if (k > 0)
			return k;
		if (k < 0 && WSAGetLastError() == WSAEWOULDBLOCK)
			return source_none;
		// This client is done (closed or reset); the next may come in.
		closesocket(client);
		client = INVALID_SOCKET;
		WSAEventSelect(listener, socket_event, FD_ACCEPT);
	}
}

long source_read(void *buf, size_t n)
{
	if (kind == source_tcp)
		return socket_read(buf, n);
	DWORD got = 0;
	if (!ReadFile(file, buf, n > 0x40000000 ? 0x40000000 : (DWORD)n, &got, nullptr)) {
		d2xx_note("virtual board: reading %s: %s", path_given, os_error_text(GetLastError()));
		return source_failed;
	}
	return (long)got;
}

bool source_reads_from(const char *path)
{
	if (kind == source_tcp || file == INVALID_HANDLE_VALUE)
		return false;
	HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	if (h == INVALID_HANDLE_VALUE)
		return false;
	BY_HANDLE_FILE_INFORMATION id;
	bool same = GetFileInformationByHandle(h, &id) &&
	            id.dwVolumeSerialNumber == file_id.dwVolumeSerialNumber &&
	            id.nFileIndexHigh == file_id.nFileIndexHigh && id.nFileIndexLow == file_id.nFileIndexLow;
	CloseHandle(h);
	return same;
}

// A file has no bytes to wait for: it is read at once or is over.
void source_wait(int, bool sw_watch, int64_t timeout_us)
{
	HANDLE h = socket_event;
	d2xx_wait_windows(&h, sw_watch && kind == source_tcp && h != WSA_INVALID_EVENT ? 1 : 0, timeout_us);
}
