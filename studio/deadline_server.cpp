#include "studio/deadline_server.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zoka_studio {

namespace {

using Clock = std::chrono::steady_clock;

// A connection's socket as cpp-httplib reads and writes it: reads buffered
// (the library reads a request line a byte at a time) and bounded by the
// request's deadline as well as by the timeout of each read.
class DeadlineStream final : public httplib::Stream {
public:
    DeadlineStream(int sock, std::chrono::milliseconds readTimeout, std::chrono::milliseconds writeTimeout)
        : sock_(sock), readTimeout_(readTimeout), writeTimeout_(writeTimeout) {}

    void StartRequest(std::chrono::milliseconds deadline) { deadline_ = Clock::now() + deadline; }
    bool Buffered() const { return next_ < end_; }
    // A read waited in vain (its timeout, or the request's deadline): the
    // client is given up.
    bool Stalled() const { return stalled_; }

    bool is_readable() const override { return Buffered() || Ready(POLLIN, ReadWait()); }
    bool is_writable() const override { return Ready(POLLOUT, writeTimeout_); }

    ssize_t read(char* data, size_t size) override {
        if (!Buffered()) {
            if (!Ready(POLLIN, ReadWait())) {
                stalled_ = true;
                return -1;
            }
            ssize_t got;
            do {
                got = recv(sock_, buffer_, sizeof buffer_, 0);
            } while (got < 0 && errno == EINTR);
            if (got <= 0) return got;
            next_ = 0;
            end_ = static_cast<size_t>(got);
        }
        const size_t taken = std::min(size, end_ - next_);
        std::memcpy(data, buffer_ + next_, taken);
        next_ += taken;
        return static_cast<ssize_t>(taken);
    }

    ssize_t write(const char* data, size_t size) override {
        if (!is_writable()) return -1;
        ssize_t sent;
        do {
            sent = send(sock_, data, size, MSG_NOSIGNAL);
        } while (sent < 0 && errno == EINTR);
        return sent;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override { Address(getpeername, ip, port); }
    void get_local_ip_and_port(std::string& ip, int& port) const override { Address(getsockname, ip, port); }
    socket_t socket() const override { return sock_; }

private:
    // The read's own timeout, cut short by the request's deadline.
    std::chrono::milliseconds ReadWait() const {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
        return std::clamp(left, std::chrono::milliseconds(0), readTimeout_);
    }

    bool Ready(short events, std::chrono::milliseconds wait) const {
        pollfd watched{sock_, events, 0};
        const auto until = Clock::now() + wait;
        while (true) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            const int ready = poll(&watched, 1, static_cast<int>(std::max<int64_t>(left.count(), 0)));
            if (ready < 0 && errno == EINTR) continue;
            return ready > 0 && (watched.revents & events) != 0;
        }
    }

    template <class Lookup>
    void Address(Lookup lookup, std::string& ip, int& port) const {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        char host[NI_MAXHOST] = {};
        char service[NI_MAXSERV] = {};
        if (lookup(sock_, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
            getnameinfo(reinterpret_cast<sockaddr*>(&address), length, host, sizeof host, service, sizeof service,
                        NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
            return;
        }
        ip = host;
        port = std::atoi(service);
    }

    const int sock_;
    const std::chrono::milliseconds readTimeout_;
    const std::chrono::milliseconds writeTimeout_;
    Clock::time_point deadline_ = Clock::time_point::max();
    bool stalled_ = false;
    char buffer_[4096];
    size_t next_ = 0;
    size_t end_ = 0;
};

std::chrono::milliseconds Milliseconds(time_t seconds, time_t microseconds) {
    return std::chrono::milliseconds(seconds * 1000 + microseconds / 1000);
}

}  // namespace

DeadlineServer::DeadlineServer(std::chrono::milliseconds deadline, size_t threads) : deadline_(deadline) {
    new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
}

bool DeadlineServer::RequestArrives(int sock) const {
    // In short waits, so that a stopped server ends its idle connections.
    constexpr std::chrono::milliseconds kSlice{100};
    const auto until = Clock::now() + std::chrono::seconds(keep_alive_timeout_sec_);
    while (svr_sock_ != INVALID_SOCKET) {
        pollfd watched{sock, POLLIN, 0};
        const int ready = poll(&watched, 1, static_cast<int>(kSlice.count()));
        if (ready < 0 && errno != EINTR) return false;
        if (ready > 0) return true;
        if (Clock::now() >= until) return false;
    }
    return false;
}

bool DeadlineServer::process_and_close_socket(socket_t sock) {
    DeadlineStream stream(sock, Milliseconds(read_timeout_sec_, read_timeout_usec_),
                          Milliseconds(write_timeout_sec_, write_timeout_usec_));
    bool served = false;
    for (size_t left = keep_alive_max_count_; left > 0 && (stream.Buffered() || RequestArrives(sock)); --left) {
        stream.StartRequest(deadline_);
        bool closed = false;
        served = process_request(stream, left == 1, closed, nullptr);
        if (!served || closed || stream.Stalled()) break;
    }
    shutdown(sock, SHUT_RDWR);
    close(sock);
    return served;
}

}  // namespace zoka_studio
