// The ingest path allocates nothing: the real byte reader, framer, decoder,
// stroker and display list take megabytes of stream from an in-memory board
// while every heap allocation in the process is counted.
//
// Counting: in a plain build this binary puts its own malloc family in
// front of glibc's (operator new comes through malloc).  Under
// AddressSanitizer, which owns malloc itself, the sanitizer's allocation
// hook counts instead.
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <malloc.h>

#include <gtest/gtest.h>

#include "common/platform.h"
#include "bench/ingest/ingest_source.h"
#include "display/display_list.h"
#include "stream/framer.h"
#include "usb/usb_link.h"

#if defined(__SANITIZE_ADDRESS__)
#define VELMORA_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELMORA_ASAN 1
#endif
#endif

namespace
{

std::atomic<bool> sw_counting{false};
std::atomic<long> allocations{0};

void count()
{
	if (sw_counting.load(std::memory_order_relaxed))
		allocations.fetch_add(1, std::memory_order_relaxed);
}

void start_counting()
{
	allocations = 0;
	sw_counting = true;
}

long stop_counting()
{
	sw_counting = false;
	return allocations;
}

}  // namespace

#ifdef VELMORA_ASAN
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*malloc_hook)(const volatile void *, size_t),
                                                         void (*free_hook)(const volatile void *));

namespace
{
void on_malloc(const volatile void *, size_t)
{
	count();
}
void on_free(const volatile void *) {}
const int hooks_installed = __sanitizer_install_malloc_and_free_hooks(on_malloc, on_free);
}  // namespace
#else
extern "C" {
void *__libc_malloc(size_t size);
void *__libc_calloc(size_t n, size_t size);
void *__libc_realloc(void *p, size_t size);
void *__libc_memalign(size_t alignment, size_t size);
void __libc_free(void *p);

void *malloc(size_t size) noexcept
{
	count();
	return __libc_malloc(size);
}

void *calloc(size_t n, size_t size) noexcept
{
	count();
	return __libc_calloc(n, size);
}

void *realloc(void *p, size_t size) noexcept
{
	count();
	return __libc_realloc(p, size);
}

void *memalign(size_t alignment, size_t size) noexcept
{
	count();
	return __libc_memalign(alignment, size);
}

void *aligned_alloc(size_t alignment, size_t size) noexcept
{
	count();
	return __libc_memalign(alignment, size);
}

int posix_memalign(void **p, size_t alignment, size_t size) noexcept
{
	count();
	*p = __libc_memalign(alignment, size);
	return *p ? 0 : ENOMEM;
}

void free(void *p) noexcept
{
	__libc_free(p);
}
}
#endif

// A stream in memory has no silence worth timing.
int32_t clock_ms()
{
	return 0;
}

void error_exit()
{
	fprintf(stderr, "halted: %d records\n", (int)nCommands);
	abort();
}

namespace
{

constexpr size_t stream_bytes = 8u << 20;

// Without this, a counter that never counts would pass the real test.
TEST(IngestMemory, CounterSeesAllocations)
{
	start_counting();
	void *volatile p = malloc(100);
	free(p);
	std::vector<int> *volatile v = new std::vector<int>(1000);  // volatile: clang may elide new/delete
	delete v;
	EXPECT_GE(stop_counting(), 2);
}

TEST(IngestMemory, MegabytesOfStreamAllocateNothing)
{
	const std::vector<uint8_t> bytes = make_ingest_stream(stream_bytes);
	board_load(bytes.data(), bytes.size());
	long frames = 0;

	start_counting();
	for (;;) {
		GetInstruction();
		if (sw_wait == 0)
			break;
		sw_wait = 0;  // as a drawing pass would
		frames++;
	}
	long counted = stop_counting();

	EXPECT_EQ(counted, 0) << "heap allocations while ingesting " << stream_bytes << " bytes";
	EXPECT_EQ(board_left(), 0u) << "the stream was not all read";
	EXPECT_GT(frames, 500);  // frames of about 8192 words: text, moves and draws went through
}

}  // namespace
