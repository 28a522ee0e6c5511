// Writing files whole on Windows: the same promises as common/file.cpp
// makes on POSIX systems, in Windows' terms.  Every file is bytes: nothing
// is translated.  A regular file is replaced by one written beside it
// (ReplaceFile keeps its attributes and security); a device (NUL, a COM
// port) is written straight through.
#include "common/file.h"

#include "common/os.h"

#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstring>

constexpr int temp_name_tries = 100;  // names tried beside the target before giving up

static bool fail(const char *path, DWORD e, std::string *why)
{
	if (why)
		*why = std::string(path) + ": " + os_error_text(e);
	return false;
}

static bool write_handle(HANDLE h, const void *data, size_t size)
{
	const char *p = static_cast<const char *>(data);
	while (size > 0) {
		DWORD n = 0;
		if (!WriteFile(h, p, size > 0x40000000 ? 0x40000000u : (DWORD)size, &n, nullptr) || n == 0)
			return false;
		p += n;
		size -= n;
	}
	return true;
}

bool write_file(const char *path, const void *data, size_t size, std::string *why)
{
	DWORD attributes = GetFileAttributesA(path);
	if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
		return fail(path, ERROR_DIRECTORY, why);
	if (attributes != INVALID_FILE_ATTRIBUTES) {
		HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
		                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
		if (h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_DISK) {
			bool ok = write_handle(h, data, size);
			DWORD e = GetLastError();
			CloseHandle(h);
			return ok ? true : fail(path, e, why);
		}
		if (h != INVALID_HANDLE_VALUE)
			CloseHandle(h);
	} else if (strncmp(path, "\\\\.\\", 4) == 0 || _stricmp(path, "NUL") == 0) {
		HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
		if (h == INVALID_HANDLE_VALUE)
			return fail(path, GetLastError(), why);
		bool ok = write_handle(h, data, size);
		DWORD e = GetLastError();
		CloseHandle(h);
		return ok ? true : fail(path, e, why);
	}
	std::string tmp;
	HANDLE h = INVALID_HANDLE_VALUE;
	for (int i = 0; i < temp_name_tries && h == INVALID_HANDLE_VALUE; i++) {
		tmp = std::string(path) + ".tmp" + std::to_string(GetCurrentProcessId()) + "-" +
		      std::to_string(i);
		h = CreateFileA(tmp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
		                nullptr);
		if (h == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
			break;
	}
	if (h == INVALID_HANDLE_VALUE)
		return fail(path, GetLastError(), why);
	bool ok = write_handle(h, data, size);
	DWORD e = GetLastError();
	CloseHandle(h);
	if (ok) {
		ok = attributes == INVALID_FILE_ATTRIBUTES
		             ? MoveFileExA(tmp.c_str(), path, MOVEFILE_WRITE_THROUGH)
		             : ReplaceFileA(path, tmp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
		                            nullptr, nullptr);
		e = GetLastError();
	}
	if (!ok) {
		DeleteFileA(tmp.c_str());
		return fail(path, e, why);
	}
	return true;
}
