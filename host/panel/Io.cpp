#include "host/panel/Io.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>

namespace kw::panel {
namespace {

struct BaudEntry {
    int baud;
    speed_t constant;
};

const BaudEntry kBauds[] = {
    {1200, B1200},       {2400, B2400},       {4800, B4800},       {9600, B9600},
    {19200, B19200},     {38400, B38400},     {57600, B57600},     {115200, B115200},
    {230400, B230400},   {460800, B460800},   {500000, B500000},   {576000, B576000},
    {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
    {2000000, B2000000},
};

std::optional<speed_t> baudConstant(int baud)
{
    for (const BaudEntry& e : kBauds)
        if (e.baud == baud) return e.constant;
    return std::nullopt;
}

void setError(std::string* error, std::string text)
{
    if (error) *error = std::move(text);
}

bool allDigits(std::string_view text)
{
    if (text.empty()) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

std::optional<unsigned long> parseNumber(std::string_view text, unsigned long max)
{
    if (!allDigits(text) || text.size() > 10) return std::nullopt;
    unsigned long value = 0;
    for (char c : text) value = value * 10 + static_cast<unsigned long>(c - '0');
    if (value > max) return std::nullopt;
    return value;
}

int msUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return 0;
    return static_cast<int>(std::min<long long>(left.count(), 60000));
}

struct AddrInfoList {
    addrinfo* list = nullptr;
    ~AddrInfoList()
    {
        if (list) freeaddrinfo(list);
    }
};

bool resolve(const HostPort& where, bool passive, AddrInfoList& out, std::string* error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = passive ? AI_PASSIVE : 0;
    const std::string port = std::to_string(where.port);
    const int rc = getaddrinfo(where.host.c_str(), port.c_str(), &hints, &out.list);
    if (rc != 0) {
        setError(error, formatHostPort(where) + ": " + gai_strerror(rc));
        return false;
    }
    return true;
}

}  // namespace

void UniqueFd::reset(int fd)
{
    if (m_fd >= 0) ::close(m_fd);
    m_fd = fd;
}

std::string errnoText(int error)
{
    return std::strerror(error);
}

std::optional<HostPort> parseHostPort(std::string_view text, bool allowZeroPort, std::string* error)
{
    HostPort hp;
    std::string_view portText;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            setError(error, "expected [ADDRESS]:PORT, got '" + std::string(text) + "'");
            return std::nullopt;
        }
        hp.host = std::string(text.substr(1, close - 1));
        portText = text.substr(close + 2);
    } else {
        const size_t colon = text.rfind(':');
        if (colon == std::string_view::npos) {
            setError(error, "expected HOST:PORT, got '" + std::string(text) + "'");
            return std::nullopt;
        }
        hp.host = std::string(text.substr(0, colon));
        portText = text.substr(colon + 1);
        if (hp.host.find(':') != std::string::npos) {
            setError(error, "an IPv6 address needs brackets: [ADDRESS]:PORT");
            return std::nullopt;
        }
    }
    if (hp.host.empty()) {
        setError(error, "missing host in '" + std::string(text) + "'");
        return std::nullopt;
    }
    const auto port = parseNumber(portText, 65535);
    if (!port || (*port == 0 && !allowZeroPort)) {
        setError(error, "bad port '" + std::string(portText) + "'");
        return std::nullopt;
    }
    hp.port = static_cast<uint16_t>(*port);
    return hp;
}

std::string formatHostPort(const HostPort& hp)
{
    if (hp.host.find(':') != std::string::npos)
        return "[" + hp.host + "]:" + std::to_string(hp.port);
    return hp.host + ":" + std::to_string(hp.port);
}

bool supportedBaud(int baud)
{
    return baudConstant(baud).has_value();
}

std::optional<SerialSpec> parseSerialSpec(std::string_view text, std::string* error)
{
    SerialSpec spec;
    const size_t colon = text.rfind(':');
    if (colon != std::string_view::npos && allDigits(text.substr(colon + 1))) {
        const auto baud = parseNumber(text.substr(colon + 1), 4000000);
        if (!baud || !supportedBaud(static_cast<int>(*baud))) {
            setError(error, "unsupported baud rate '" + std::string(text.substr(colon + 1)) + "'");
            return std::nullopt;
        }
        spec.baud = static_cast<int>(*baud);
        text = text.substr(0, colon);
    }
    if (text.empty()) {
        setError(error, "missing serial device");
        return std::nullopt;
    }
    spec.device = std::string(text);
    return spec;
}

bool makeRaw(int fd, int baud, std::string* error)
{
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        setError(error, errnoText(errno));
        return false;
    }
    cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS | PARENB | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (baud != 0) {
        const auto constant = baudConstant(baud);
        if (!constant) {
            setError(error, "unsupported baud rate " + std::to_string(baud));
            return false;
        }
        cfsetispeed(&tio, *constant);
        cfsetospeed(&tio, *constant);
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        setError(error, errnoText(errno));
        return false;
    }
    return true;
}

UniqueFd openSerial(const SerialSpec& spec, std::string* error)
{
    UniqueFd fd(::open(spec.device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        setError(error, spec.device + ": " + errnoText(errno));
        return {};
    }
    if (!isatty(fd.get())) {
        setError(error, spec.device + ": not a serial device");
        return {};
    }
    std::string why;
    if (!makeRaw(fd.get(), spec.baud, &why)) {
        setError(error, spec.device + ": " + why);
        return {};
    }
    tcflush(fd.get(), TCIOFLUSH);
    return fd;
}

bool setNonBlocking(int fd)
{
    const int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

UniqueFd listenTcp(const HostPort& where, std::string* error, uint16_t* boundPort)
{
    AddrInfoList addrs;
    if (!resolve(where, true, addrs, error)) return {};
    int lastErrno = 0;
    for (addrinfo* ai = addrs.list; ai; ai = ai->ai_next) {
        UniqueFd fd(::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                             ai->ai_protocol));
        if (!fd) {
            lastErrno = errno;
            continue;
        }
        const int one = 1;
        setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd.get(), ai->ai_addr, ai->ai_addrlen) != 0 || ::listen(fd.get(), 8) != 0) {
            lastErrno = errno;
            continue;
        }
        if (boundPort) {
            sockaddr_storage ss{};
            socklen_t len = sizeof ss;
            getsockname(fd.get(), reinterpret_cast<sockaddr*>(&ss), &len);
            *boundPort = ss.ss_family == AF_INET6
                             ? ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port)
                             : ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
        }
        return fd;
    }
    setError(error, "cannot listen on " + formatHostPort(where) + ": " + errnoText(lastErrno));
    return {};
}

UniqueFd connectTcp(const HostPort& where, std::chrono::milliseconds timeout, std::string* error)
{
    AddrInfoList addrs;
    if (!resolve(where, false, addrs, error)) return {};
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int lastErrno = ETIMEDOUT;
    for (addrinfo* ai = addrs.list; ai; ai = ai->ai_next) {
        UniqueFd fd(::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                             ai->ai_protocol));
        if (!fd) {
            lastErrno = errno;
            continue;
        }
        if (::connect(fd.get(), ai->ai_addr, ai->ai_addrlen) != 0) {
            if (errno != EINPROGRESS) {
                lastErrno = errno;
                continue;
            }
            pollfd p{fd.get(), POLLOUT, 0};
            int rc;
            do {
                rc = ::poll(&p, 1, msUntil(deadline));
            } while (rc < 0 && errno == EINTR);
            if (rc <= 0) {
                lastErrno = rc == 0 ? ETIMEDOUT : errno;
                continue;
            }
            int soError = 0;
            socklen_t len = sizeof soError;
            getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &soError, &len);
            if (soError != 0) {
                lastErrno = soError;
                continue;
            }
        }
        const int one = 1;
        setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        setKeepAlive(fd.get());
        return fd;
    }
    setError(error, formatHostPort(where) + ": " + errnoText(lastErrno));
    return {};
}

bool setKeepAlive(int fd, const KeepAlive& keepAlive)
{
    const int values[] = {1, static_cast<int>(keepAlive.idle.count()),
                          static_cast<int>(keepAlive.interval.count()), keepAlive.count,
                          static_cast<int>(keepAlive.userTimeout.count())};
    const int levels[][2] = {{SOL_SOCKET, SO_KEEPALIVE},
                             {IPPROTO_TCP, TCP_KEEPIDLE},
                             {IPPROTO_TCP, TCP_KEEPINTVL},
                             {IPPROTO_TCP, TCP_KEEPCNT},
                             {IPPROTO_TCP, TCP_USER_TIMEOUT}};
    bool ok = true;
    for (size_t i = 0; i < std::size(values); ++i)
        ok = setsockopt(fd, levels[i][0], levels[i][1], &values[i], sizeof values[i]) == 0 && ok;
    return ok;
}

bool writeAll(int fd, const uint8_t* bytes, size_t count,
              std::chrono::steady_clock::time_point deadline)
{
    struct stat st {};
    const bool socket = fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = socket ? ::send(fd, bytes + done, count - done, MSG_NOSIGNAL)
                                 : ::write(fd, bytes + done, count - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        const int wait = msUntil(deadline);
        if (wait == 0) return false;
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, wait) < 0 && errno != EINTR) return false;
    }
    return true;
}

WakeFd::WakeFd() : m_fd(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

void WakeFd::notify()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_fd.get(), &one, sizeof one);
}

void WakeFd::clear()
{
    uint64_t value;
    [[maybe_unused]] const ssize_t n = ::read(m_fd.get(), &value, sizeof value);
}

}  // namespace kw::panel
