// The studio's HTTP server: cpp-httplib's, with a deadline for each request
// and a pool that slow clients cannot fill.
//
// The library restarts a read's timeout with every byte that arrives, so a
// client sending its headers a line at a time would hold one of the pool's
// threads for as long as it likes, and a handful of them would leave none
// for the page. Here each request's line, headers and body must have arrived
// within the deadline, counted from its first byte; a request that misses it
// (or whose client goes quiet for a read's timeout) is answered 400 and its
// connection closed. What a handler takes (a render)
// does not count: the request has been read by then.
#pragma once

#include <httplib.h>

#include <chrono>

namespace zoka_studio {

class DeadlineServer : public httplib::Server {
public:
    // threads: how many connections are served at once.
    DeadlineServer(std::chrono::milliseconds deadline, size_t threads);

private:
    // The library's connection loop (keep-alive, then a request at a time)
    // over a stream that keeps the deadline.
    bool process_and_close_socket(socket_t sock) override;
    // Whether a request begins within the keep-alive time; false as soon as
    // the server stops.
    bool RequestArrives(int sock) const;

    const std::chrono::milliseconds deadline_;
};

}  // namespace zoka_studio
