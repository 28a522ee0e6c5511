// velmora-serve's HTTP side over GNU libmicrohttpd (see http_server.h).
//
// The library runs its own threads, each an epoll loop over its share of
// the connections, so an idle connection costs a socket and a little
// memory, not a thread.  Two things it does not bound are bounded here,
// through its callbacks: the time a head may take (the library's timeout
// is for a connection that moves no byte at all, and a head trickled a
// byte a second moves), and the answers that take long to make, which
// leave the library's threads on threads of their own while their
// connections are suspended.
#include "tools/serve/http_server.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <microhttpd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

namespace
{

constexpr unsigned max_connections = 512;    // open at once, from all addresses
constexpr unsigned max_per_address = 64;     // from one address (a browser opens six)
constexpr unsigned idle_s = 5;               // a connection that moves no byte this long is dropped
constexpr int64_t head_deadline_ms = 5000;   // a whole head, from the connection's being ready for it
constexpr size_t max_head_bytes = 16384;     // the request line and the header lines
constexpr size_t max_line = 8192;            // one header line
constexpr size_t max_headers = 64;           // header lines
constexpr size_t connection_memory = 32768;  // the library's pool per connection: head and buffers
constexpr int max_feeds = 32;                // live pages at once
constexpr int64_t feed_beat_ms = 10000;      // a feed hears at least this often (a comment line)
constexpr int max_apart = 8;                 // answers being made on threads of their own
constexpr unsigned server_threads = 2;       // the library's
constexpr int backlog = 128;                 // connections the kernel holds until accepted
constexpr int send_buffer = 65536;           // kernel bytes queued to one client, about
constexpr int64_t watch_ms = 100;            // how often deadlines and feeds' beats are looked at

int64_t now_ms()
{
	using namespace std::chrono;
	return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

HttpSetup setup;           // set once, before the library's threads start
std::string machine_name;  // gethostname's, lower case

const auto nothing = std::make_shared<const std::string>();
const auto beat = std::make_shared<const std::string>(":\n\n");

// One socket, from its accept to its close.
struct Conn {
	int fd = -1;
	int64_t ready_ms = 0;  // when it became ready for a request's head
	bool in_head = true;   // a head is being read
	bool cut = false;      // shut down for a head too slow
};

// One live feed.
struct Feed {
	MHD_Connection *c = nullptr;
	const Route *route = nullptr;
	uint64_t seq = 0;  // of the event being sent
	std::shared_ptr<const std::string> text = nothing;
	size_t off = 0;  // of text, sent
	int64_t last_ms = 0;
	bool asleep = false;  // suspended until a new event or its beat
};

// One request, from its head to its answer.
struct Request {
	std::atomic<bool> ready{false};  // an answer made apart waits in answer
	Answer answer;
};

std::mutex lock;  // conns and feeds
std::set<Conn *> conns;
std::set<Feed *> feeds;
std::atomic<int> apart_now{0};

Conn *conn_of(MHD_Connection *c)
{
	const MHD_ConnectionInfo *i = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
	return i ? static_cast<Conn *>(i->socket_context) : nullptr;
}

void on_connection(void *, MHD_Connection *c, void **socket_context, MHD_ConnectionNotificationCode code)
{
	std::lock_guard<std::mutex> g(lock);
	if (code == MHD_CONNECTION_NOTIFY_STARTED) {
		const MHD_ConnectionInfo *i = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
		auto *k = new Conn;
		k->fd = i ? i->connect_fd : -1;
		k->ready_ms = now_ms();
		conns.insert(k);
		*socket_context = k;
	} else if (auto *k = static_cast<Conn *>(*socket_context)) {
		// Said before the library closes the socket: the watch never
		// touches a descriptor that may have been given to another.
		conns.erase(k);
		delete k;
		*socket_context = nullptr;
	}
}

void on_completed(void *, MHD_Connection *c, void **req_cls, MHD_RequestTerminationCode)
{
	delete static_cast<Request *>(*req_cls);
	*req_cls = nullptr;
	std::lock_guard<std::mutex> g(lock);
	if (Conn *k = conn_of(c)) {
		k->in_head = true;
		k->ready_ms = now_ms();
	}
}

// Heads too slow are cut, sleeping feeds woken for their beat.
[[noreturn]] void watch()
{
	for (;;) {
		std::this_thread::sleep_for(std::chrono::milliseconds(watch_ms));
		int64_t now = now_ms();
		std::lock_guard<std::mutex> g(lock);
		for (Conn *k : conns)
			if (k->in_head && !k->cut && now - k->ready_ms >= head_deadline_ms) {
				shutdown(k->fd, SHUT_RDWR);  // the library reads the end and closes it
				k->cut = true;
			}
		for (Feed *f : feeds)
			if (f->asleep && now - f->last_ms >= feed_beat_ms) {
				f->asleep = false;
				MHD_resume_connection(f->c);
			}
	}
}

MHD_Result send(MHD_Connection *c, Answer a, bool close = false)
{
	auto *kept = new Answer(std::move(a));
	MHD_Response *res = MHD_create_response_from_buffer_with_free_callback_cls(
	        kept->body.size(), const_cast<char *>(kept->body.data()),
	        [](void *p) { delete static_cast<Answer *>(p); }, kept);
	if (!res) {
		delete kept;
		return MHD_NO;
	}
	MHD_add_response_header(res, MHD_HTTP_HEADER_CONTENT_TYPE, kept->type.c_str());
	MHD_add_response_header(res, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
	MHD_add_response_header(res, "X-Content-Type-Options", "nosniff");
	for (const auto &h : kept->headers)
		MHD_add_response_header(res, h.first.c_str(), h.second.c_str());
	if (close)
		MHD_add_response_header(res, MHD_HTTP_HEADER_CONNECTION, "close");
	MHD_Result ok = MHD_queue_response(c, kept->status, res);
	MHD_destroy_response(res);
	return ok;
}

// The next bytes of a feed: the rest of its event, a newer event, or its
// beat; with none due it sleeps (suspended) until http_wake_feeds.
ssize_t feed_read(void *cls, uint64_t, char *buf, size_t max)
{
	Feed &f = *static_cast<Feed *>(cls);
	if (f.off == f.text->size()) {
		auto next = f.route->next(&f.seq);
		int64_t now = now_ms();
		if (!next && now - f.last_ms < feed_beat_ms) {
			// Asked again under the lock that http_wake_feeds takes: an
			// event published in between is either seen here or wakes it.
			std::lock_guard<std::mutex> g(lock);
			next = f.route->next(&f.seq);
			if (!next) {
				f.asleep = true;
				MHD_suspend_connection(f.c);
				return 0;
			}
		}
		f.text = next ? std::move(next) : beat;
		f.off = 0;
		f.last_ms = now;
	}
	size_t n = std::min(max, f.text->size() - f.off);
	memcpy(buf, f.text->data() + f.off, n);
	f.off += n;
	return (ssize_t)n;
}

void feed_done(void *cls)
{
	auto *f = static_cast<Feed *>(cls);
	std::lock_guard<std::mutex> g(lock);
	feeds.erase(f);
	delete f;
}

MHD_Result start_feed(MHD_Connection *c, const Route &route)
{
	auto *f = new Feed;
	f->c = c;
	f->route = &route;
	f->last_ms = now_ms();
	{
		std::lock_guard<std::mutex> g(lock);
		if ((int)feeds.size() >= max_feeds) {
			delete f;
			return send(c, text_answer(503, "503 too many viewers\n"));
		}
		feeds.insert(f);
	}
	MHD_Response *res =
	        MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 16384, feed_read, f, feed_done);
	if (!res) {
		feed_done(f);
		return MHD_NO;
	}
	MHD_add_response_header(res, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
	MHD_add_response_header(res, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
	MHD_add_response_header(res, "X-Content-Type-Options", "nosniff");
	MHD_Result ok = MHD_queue_response(c, 200, res);
	MHD_destroy_response(res);
	return ok;
}

struct HeadCount {
	size_t lines = 0, longest = 0;
};

MHD_Result count_line(void *cls, MHD_ValueKind, const char *key, const char *value)
{
	auto &h = *static_cast<HeadCount *>(cls);
	h.lines++;
	h.longest = std::max(h.longest, strlen(key) + 2 + (value ? strlen(value) : 0));
	return MHD_YES;
}

// The name in a Host header: without its port, lower case, no final dot.
std::string name_in(const std::string &host)
{
	if (!host.empty() && host[0] == '[')
		return host.substr(0, host.find(']') + 1);
	std::string name = host.substr(0, host.find(':'));
	for (char &ch : name)
		ch = (char)tolower((unsigned char)ch);
	if (!name.empty() && name.back() == '.')
		name.pop_back();
	return name;
}

// A name this server answers to: an address, localhost or a name under
// it, the machine's own name, or one allowed by name.
bool own_name(const std::string &name)
{
	in_addr v4;
	in6_addr v6;
	const std::string under = ".localhost";
	if (name.size() > 2 && name.front() == '[' && name.back() == ']')
		return inet_pton(AF_INET6, name.substr(1, name.size() - 2).c_str(), &v6) == 1;
	if (inet_pton(AF_INET, name.c_str(), &v4) == 1 || name == "localhost" || name == machine_name ||
	    (name.size() > under.size() &&
	     name.compare(name.size() - under.size(), under.size(), under) == 0))
		return true;
	return std::find(setup.allowed_hosts.begin(), setup.allowed_hosts.end(), name) !=
	       setup.allowed_hosts.end();
}

bool token_ok(MHD_Connection *c)
{
	if (setup.token.empty())
		return true;
	const char *q = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, "token");
	const char *a = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_AUTHORIZATION);
	std::string given = q ? q : "";
	if (given.empty() && a && strncasecmp(a, "Bearer ", 7) == 0) {
		given = a + 7;
		given.erase(0, given.find_first_not_of(' '));
	}
	// Every byte compared, whatever the first difference.
	const std::string &token = setup.token;
	unsigned diff = given.size() != token.size();
	for (size_t i = 0; i < given.size() && i < token.size(); i++)
		diff |= (unsigned)(given[i] ^ token[i]);
	return diff == 0;
}

// Whether a request may not pass, with its answer.
bool refused(MHD_Connection *c, const char *method, Answer *no)
{
	const MHD_ConnectionInfo *i = MHD_get_connection_info(c, MHD_CONNECTION_INFO_REQUEST_HEADER_SIZE);
	HeadCount h;
	MHD_get_connection_values(c, MHD_HEADER_KIND, count_line, &h);
	if ((i && i->header_size > max_head_bytes) || h.lines > max_headers || h.longest > max_line) {
		*no = text_answer(431, "431 the head is too big\n");
		return true;
	}
	const char *host = MHD_lookup_connection_value(c, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST);
	std::string name = host ? name_in(host) : "";
	if (host && !own_name(name)) {
		*no = text_answer(
		        403,
		        "403 '" + name +
		                "' is not a name of this server; if it is one, start it with --allow-host " +
		                name + "\n");
		return true;
	}
	if (!token_ok(c)) {
		*no = text_answer(401, "401 a token is needed\n");
		no->headers.emplace_back(MHD_HTTP_HEADER_WWW_AUTHENTICATE, "Bearer");
		return true;
	}
	if (strcmp(method, "GET") != 0 && strcmp(method, "HEAD") != 0) {
		*no = text_answer(405, "405 read-only\n");
		no->headers.emplace_back(MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
		return true;
	}
	return false;
}

MHD_Result on_request(void *, MHD_Connection *c, const char *url, const char *method, const char *,
                      const char *, size_t *upload_size, void **req_cls)
{
	auto *r = static_cast<Request *>(*req_cls);
	if (!r) {  // the head is whole
		{
			std::lock_guard<std::mutex> g(lock);
			if (Conn *k = conn_of(c))
				k->in_head = false;
		}
		*req_cls = r = new Request;
		// Answered now, before any body is read: the library then
		// closes the connection after the answer, the body unread.
		Answer no;
		if (refused(c, method, &no))
			return send(c, std::move(no), true);
		auto route = std::find_if(setup.routes.begin(), setup.routes.end(),
		                          [url](const Route &x) { return x.path == url; });
		if (route == setup.routes.end())
			return send(c, text_answer(404, "404 no such address\n"));
		if (route->how == Route::now)
			return send(c, route->answer());
		if (route->how == Route::feed)
			return start_feed(c, *route);
		if (apart_now.fetch_add(1) >= max_apart) {
			apart_now--;
			return send(c, text_answer(503, "503 busy: try again\n"));
		}
		MHD_suspend_connection(c);
		const Route *made = &*route;
		std::thread([c, r, made] {
			r->answer = made->answer();
			r->ready = true;
			apart_now--;
			MHD_resume_connection(c);
		}).detach();
		return MHD_YES;
	}
	if (*upload_size) {  // a body it does not need, read and dropped
		*upload_size = 0;
		return MHD_YES;
	}
	if (r->ready.exchange(false))
		return send(c, std::move(r->answer));
	return MHD_YES;
}

bool loopback_address(const sockaddr_storage &a)
{
	if (a.ss_family == AF_INET)
		return (ntohl(((const sockaddr_in &)a).sin_addr.s_addr) >> 24) == 127;
	if (a.ss_family != AF_INET6)
		return false;
	const in6_addr &v6 = ((const sockaddr_in6 &)a).sin6_addr;
	return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
}

}  // namespace

Answer text_answer(unsigned status, const std::string &text)
{
	Answer a;
	a.status = status;
	a.body = text;
	return a;
}

int http_listen(const std::string &host, int port, int *bound_port, bool *loopback, std::string *why)
{
	addrinfo hints = {};
	hints.ai_family = AF_UNSPEC;
	hints.ai_socktype = SOCK_STREAM;
	hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
	addrinfo *found = nullptr;
	int e = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
	if (e != 0) {
		*why = gai_strerror(e);
		return -1;
	}
	int sock = -1;
	for (addrinfo *a = found; a && sock < 0; a = a->ai_next) {
		sock = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
		if (sock < 0)
			continue;
		int yes = 1, no = 0;
		setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
		if (a->ai_family == AF_INET6)  // "::" takes IPv4 too
			setsockopt(sock, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
		// Accepted sockets take the listening socket's buffer size: what
		// a stalled viewer can hold in the kernel stays small.
		setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &send_buffer, sizeof send_buffer);
		if (bind(sock, a->ai_addr, a->ai_addrlen) != 0 || listen(sock, backlog) != 0) {
			*why = strerror(errno);
			close(sock);
			sock = -1;
		}
	}
	freeaddrinfo(found);
	if (sock < 0)
		return -1;
	// Loopback or not is judged by the address bound, not by its name.
	sockaddr_storage bound = {};
	socklen_t len = sizeof bound;
	getsockname(sock, (sockaddr *)&bound, &len);
	*loopback = loopback_address(bound);
	*bound_port = ntohs(bound.ss_family == AF_INET6 ? ((sockaddr_in6 &)bound).sin6_port
	                                                : ((sockaddr_in &)bound).sin_port);
	return sock;
}

bool http_start(int sock, HttpSetup s, std::string *why)
{
	setup = std::move(s);
	char name[HOST_NAME_MAX + 1] = "";
	gethostname(name, sizeof name);
	for (char *p = name; *p; p++)
		machine_name += (char)tolower((unsigned char)*p);
	MHD_Daemon *d = MHD_start_daemon(
	        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME, 0, nullptr,
	        nullptr, on_request, nullptr, MHD_OPTION_LISTEN_SOCKET, sock, MHD_OPTION_THREAD_POOL_SIZE,
	        server_threads, MHD_OPTION_CONNECTION_LIMIT, max_connections,
	        MHD_OPTION_PER_IP_CONNECTION_LIMIT, max_per_address, MHD_OPTION_CONNECTION_TIMEOUT, idle_s,
	        MHD_OPTION_CONNECTION_MEMORY_LIMIT, connection_memory, MHD_OPTION_NOTIFY_CONNECTION,
	        on_connection, nullptr, MHD_OPTION_NOTIFY_COMPLETED, on_completed, nullptr, MHD_OPTION_END);
	if (!d) {
		*why = "the HTTP library would not start";
		return false;
	}
	std::thread(watch).detach();
	return true;
}

void http_wake_feeds()
{
	std::lock_guard<std::mutex> g(lock);
	for (Feed *f : feeds)
		if (f->asleep) {
			f->asleep = false;
			MHD_resume_connection(f->c);
		}
}

int http_feeds()
{
	std::lock_guard<std::mutex> g(lock);
	return (int)feeds.size();
}
