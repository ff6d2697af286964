#pragma once
// File descriptors, serial ports, TCP and a wake-up descriptor, for the panel lines.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kw::panel {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : m_fd(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : m_fd(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept
    {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return m_fd; }
    explicit operator bool() const { return m_fd >= 0; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int m_fd = -1;
};

// "HOST:PORT" or "[IPV6]:PORT". Port 0 is accepted only when allowZeroPort (listening on
// any free port).
struct HostPort {
    std::string host;
    uint16_t port = 0;
};
std::optional<HostPort> parseHostPort(std::string_view text, bool allowZeroPort,
                                      std::string* error);
std::string formatHostPort(const HostPort& hp);

// "DEV[:BAUD]", default 9600 baud.
struct SerialSpec {
    std::string device;
    int baud = 9600;
};
std::optional<SerialSpec> parseSerialSpec(std::string_view text, std::string* error);
bool supportedBaud(int baud);

// Puts a terminal into raw 8N1 mode at `baud` (0 leaves the speed alone), no flow control.
bool makeRaw(int fd, int baud, std::string* error);
// Opens a serial device non-blocking and raw. Error text: "DEV: reason".
UniqueFd openSerial(const SerialSpec& spec, std::string* error);

// A listening socket (non-blocking, SO_REUSEADDR); *boundPort gets the port in use.
UniqueFd listenTcp(const HostPort& where, std::string* error, uint16_t* boundPort = nullptr);
// Short keepalive timers, so that a peer that vanishes without a FIN or an RST (a converter
// that lost power) fails the connection in about 11 s instead of the kernel's two hours,
// whether the line is idle (keepalive probes) or has a command unacknowledged (user timeout).
struct KeepAlive {
    std::chrono::seconds idle{5};
    std::chrono::seconds interval{2};
    int count = 3;
    std::chrono::milliseconds userTimeout{11000};
};
bool setKeepAlive(int fd, const KeepAlive& keepAlive = {});

// A connected, non-blocking socket with TCP_NODELAY and setKeepAlive(), or none after
// `timeout`.
UniqueFd connectTcp(const HostPort& where, std::chrono::milliseconds timeout, std::string* error);

bool setNonBlocking(int fd);

// Writes every byte to a non-blocking descriptor before `deadline`. Sockets are written
// without SIGPIPE. False on error or when the deadline passes.
bool writeAll(int fd, const uint8_t* bytes, size_t count,
              std::chrono::steady_clock::time_point deadline);

// An eventfd that a thread polls to be woken.
class WakeFd {
public:
    WakeFd();
    int fd() const { return m_fd.get(); }
    void notify();
    void clear();

private:
    UniqueFd m_fd;
};

std::string errnoText(int error);

}  // namespace kw::panel
