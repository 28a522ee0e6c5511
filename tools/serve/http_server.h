// velmora-serve's HTTP side: GNU libmicrohttpd, through its public
// interface only, with the limits a server facing any client needs.
//
// Every request passes the same gate before its route is looked up: a
// head of at most 16 KiB, 64 header lines and 8 KiB a line, complete
// within 5 s of the connection's being ready for it; a Host that is one
// of this server's own names (a page that rebinds its own name to this
// machine arrives under that name); the token, where there is one; GET
// or HEAD.  A request with a body it does not need is answered and its
// connection closed, the body never read.  Connections are bounded in
// all and per address, and dropped after 5 s without progress.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct Answer {
	unsigned status = 200;
	std::string type = "text/plain; charset=utf-8";
	std::string body;
	std::vector<std::pair<std::string, std::string>> headers;
	std::shared_ptr<void> hold;  // released once the answer is sent or dropped
};

Answer text_answer(unsigned status, const std::string &text);

// The event a live feed sends after the one numbered *seq: the newest
// one's text, *seq set to its number; null when there is none newer.
using FeedNext = std::function<std::shared_ptr<const std::string>(uint64_t *seq)>;

struct Route {
	std::string path;
	enum How {
		now,    // answered on the server's own thread: quick
		apart,  // answered on a thread of its own (drawing, a child program)
		feed,   // a live text/event-stream
	} how;
	std::function<Answer()> answer;  // now and apart
	FeedNext next;                   // feed
};

struct HttpSetup {
	std::string token;                       // empty: none asked for
	std::vector<std::string> allowed_hosts;  // names beyond the machine's own, lower case
	std::vector<Route> routes;
};

// A listening socket on host:port (port 0: a free one).  *loopback when
// the address bound is a loopback address.  -1 with *why when it cannot.
int http_listen(const std::string &host, int port, int *bound_port, bool *loopback, std::string *why);

// Serves sock on threads of the library's.  False with *why.
bool http_start(int sock, HttpSetup setup, std::string *why);

// A new event: every feed waiting for one is woken.
void http_wake_feeds();

// Live feeds open now.
int http_feeds();
