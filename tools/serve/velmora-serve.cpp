// velmora-serve: the board read headless, its picture served to browsers.
//
// main() reads the command line, binds the listening socket and starts the
// HTTP server's threads (serve/http_server, over GNU libmicrohttpd) with
// the routes (serve/routes), then becomes the board side (serve/board):
// the board read as velmora reads it, a frame published wherever velmora's
// window would show a picture.
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/serve/board.h"
#include "tools/serve/http_server.h"
#include "tools/serve/routes.h"
#include "tools/toolkit/cli.h"

constexpr size_t token_bytes = 16;  // random bytes of a generated token

static const char usage_text[] =
        "usage: velmora-serve [--listen ADDR:PORT] [--single] [--token TOKEN] [--allow-host NAME]...\n"
        "\n"
        "Reads a board as velmora does, with no window and no X server, and serves\n"
        "its picture to browsers.  The console shows velmora's own start-up listing\n"
        "and halt texts; VELMORA_SERIAL, VELMORA_CAPTURE and the virtual board\n"
        "(VELMORA_BOARD...) work as for velmora (see velmora --help).\n"
        "\n"
        "  --listen ADDR:PORT  where to listen (default 127.0.0.1:8080; port 0 picks\n"
        "                      a free one).  Unless the address bound is a loopback\n"
        "                      address, a token is needed: one is made up and\n"
        "                      printed unless given\n"
        "  --token TOKEN       every request must carry it: ?token=TOKEN in the\n"
        "                      address, or the header Authorization: Bearer TOKEN;\n"
        "                      without it the answer is 401.  At least 16 characters\n"
        "  --allow-host NAME   answer to NAME too (as many times as needed).  A\n"
        "                      request must name this server: an address, localhost,\n"
        "                      NAME.localhost or this machine's host name; any other\n"
        "                      name, as a page on another site would use, gets 403\n"
        "  --single            single buffering: pictures are shown as they are\n"
        "                      built (velmora's answer n); default double, each\n"
        "                      picture once complete (the answer y)\n"
        "  -h, --help          show this text\n"
        "  --version           show the version\n"
        "\n"
        "Addresses, all read-only:\n"
        "  /            the live picture, its frame number, rates and the stream's\n"
        "               health; pause and step back through the last frames\n"
        "  /frame.png   the current frame as velmora-snap pictures it (664x498)\n"
        "  /frame.svg   the same as SVG\n"
        "  /frame.json  the frame number and the stream's health\n"
        "  /capture.bin the last bytes read from the board (at most 4 MiB)\n"
        "  /capture.html those bytes as a velmora-inspect page\n"
        "\n"
        "The page's address is printed on standard error once it listens.  A halt\n"
        "(\"too many commands\", a device failure) is shown on the page too; the\n"
        "server goes on until ended (Ctrl-C).\n";

// ---------------------------------------------------------------- start

constexpr size_t min_token = 16;  // characters of a token given

static bool make_token(std::string *token)
{
	unsigned char raw[token_bytes];
	int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
	bool ok = fd >= 0 && read(fd, raw, sizeof raw) == (ssize_t)sizeof raw;
	if (fd >= 0)
		close(fd);
	for (unsigned char c : raw) {
		char hex[3];
		snprintf(hex, sizeof hex, "%02x", c);
		*token += hex;
	}
	return ok;
}

static int bad_usage(const std::string &what)
{
	return usage_error("velmora-serve", what);
}

// --listen ADDR:PORT into *host and *port.
static int take_listen(const char *value, std::string *host, int *port)
{
	std::string v = value;
	size_t colon = v.rfind(':');
	char *end = nullptr;
	long p = colon == std::string::npos ? -1 : strtol(v.c_str() + colon + 1, &end, 10);
	if (p < 0 || p > 65535 || !end || *end || colon + 1 == v.size() || colon == 0)
		return bad_usage("--listen needs ADDR:PORT, not '" + v + "'");
	*host = v.substr(0, colon);
	if (host->size() > 2 && host->front() == '[' && host->back() == ']')
		*host = host->substr(1, host->size() - 2);
	*port = (int)p;
	return -1;
}

static int take_token(const char *value, std::string *token)
{
	*token = value;
	if (token->size() < min_token)
		return bad_usage("--token needs at least " + std::to_string(min_token) + " characters, not " +
		                 std::to_string(token->size()) + "; leave it out and one is made up");
	return -1;
}

static int take_host(const char *value, std::vector<std::string> *hosts)
{
	std::string name = value;
	for (char &ch : name)
		ch = (char)tolower((unsigned char)ch);
	if (name.empty() || name.find_first_of(":/ ") != std::string::npos)
		return bad_usage("--allow-host needs a host name, not '" + std::string(value) + "'");
	hosts->push_back(name);
	return -1;
}

// Where this program is: velmora-inspect is looked for beside it.
static std::string own_dir()
{
	char self[4096];
	ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
	if (n <= 0)
		return "";
	self[n] = '\0';
	std::string dir = self;
	return dir.erase(dir.find_last_of('/'));
}

int main(int argc, char **argv)
{
	std::string host = "127.0.0.1";
	int port = 8080;
	bool sw_double = true;
	HttpSetup setup;
	const CommandLine command_line = {
	        .tool = "velmora-serve",
	        .usage = usage_text,
	        .options = {{"--listen", nullptr, true, nullptr, nullptr,
	                     [&](const char *v) { return take_listen(v, &host, &port); }},
	                    {"--token", nullptr, true, nullptr, nullptr,
	                     [&](const char *v) { return take_token(v, &setup.token); }},
	                    {"--allow-host", nullptr, true, nullptr, nullptr,
	                     [&](const char *v) { return take_host(v, &setup.allowed_hosts); }},
	                    switch_option("--single", &sw_double, false)},
	        .sw_input = false};
	const char *no_input = nullptr;
	if (int status = read_command_line(command_line, argc, argv, &no_input); status >= 0)
		return status;

	int bound = 0;
	bool loopback = false;
	std::string why;
	int sock = http_listen(host, port, &bound, &loopback, &why);
	if (sock < 0) {
		fprintf(stderr, "velmora-serve: cannot listen on %s:%d: %s\n", host.c_str(), port,
		        why.c_str());
		return 2;
	}
	// Only an address that is loopback once bound goes without a token.
	if (setup.token.empty() && !loopback && !make_token(&setup.token)) {
		fprintf(stderr, "velmora-serve: cannot make a token: %s\n", strerror(errno));
		return 2;
	}
	std::string token = setup.token;

	board_console();
	setup.routes = serve_routes(own_dir());
	board_start(sw_double, http_wake_feeds);  // a white window until the first picture
	if (!http_start(sock, std::move(setup), &why)) {
		fprintf(stderr, "velmora-serve: %s\n", why.c_str());
		return 2;
	}
	std::string shown = host.find(':') != std::string::npos ? "[" + host + "]" : host;
	fprintf(stderr, "velmora-serve: the board's picture at http://%s:%d/%s%s\n", shown.c_str(), bound,
	        token.empty() ? "" : "?token=", token.c_str());
	run_board();
}
