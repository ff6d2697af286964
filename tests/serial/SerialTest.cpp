// The serial port on a pseudo-terminal (the test plays the panel); the receive loop, scripted.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>

#include "host/framework/Clock.h"
#include "link/VoRIXSNMP.h"
#include "link/VoSerialLinuxSNMP.h"
#include "tests/support/Contender.h"

namespace {

using namespace nsVoSerialSNMP;

using Bytes = std::vector<unsigned char>;
using Strings = std::vector<std::string>;
using kw::host::Clock;
constexpr auto kLimit = std::chrono::seconds(10);

class Pty {
public:
    Pty() { EXPECT_EQ(0, openpty(&m_master, &m_slave, m_name, nullptr, nullptr)) << errno; }
    ~Pty()
    {
        close(m_master);
        close(m_slave);
    }
    termios attributes() const
    {
        termios tio{};
        EXPECT_EQ(0, tcgetattr(m_slave, &tio));
        return tio;
    }
    Bytes read(size_t n)
    {
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + kLimit;
        while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
            pollfd p{m_master, POLLIN, 0};
            unsigned char chunk[64];
            if (poll(&p, 1, 100) <= 0) continue;  // SIGIO may interrupt it
            const ssize_t got = ::read(m_master, chunk, std::min(sizeof chunk, n - out.size()));
            if (got > 0) out.insert(out.end(), chunk, chunk + got);
        }
        return out;
    }
    char m_name[128] = {};
    int m_master = -1, m_slave = -1;
};

// Logs "<name> <len>: <result> <len after>" for every offer; forwards to an engine (which
// stores what it takes, result 0), or answers a fixed result and consumed length (-1: all).
class Tap : public VoPacketReceiverInterfaceSNMP {
public:
    Tap(Strings& log, VoRIXSNMP* engine, std::string name = "offer", int result = 0, int used = -1)
        : m_log(log), m_engine(engine), m_name(std::move(name)), m_result(result), m_used(used)
    {
    }
    int CheckReceiveData(const unsigned char* data, unsigned int& len) override
    {
        const unsigned int offered = len;
        const int result = m_engine ? m_engine->CheckReceiveData(data, len) : m_result;
        if (!m_engine && m_used >= 0) len = static_cast<unsigned int>(m_used);
        m_log.push_back(m_name + " " + std::to_string(offered) + ": " + std::to_string(result) +
                        " " + std::to_string(len));
        return result;
    }
    Strings& m_log;
    VoRIXSNMP* m_engine;
    std::string m_name;
    int m_result, m_used;
};

// Raw 8N1 at 9600, one byte at a time; Close restores the line; a burst raises SIGIO, read after
// the burst wait; a stop wakes a receive loop at once.
TEST(SerialPort, WritesAndReadsFramesOnARawLineAndCloseRestoresIt)
{
    const char* missing = "/nonexistent-kwsnmp/ttyS9";  // the open failure is reported
    testing::internal::CaptureStderr();
    VoSerialLinuxSNMP none(missing, eVoBaud9600, eVoDataBit8, false);
    EXPECT_FALSE(none.Create(missing, eVoBaud9600, eVoDataBit8, false));
    const std::string error = std::string(missing) + ": " + std::strerror(ENOENT) + "\n";
    EXPECT_EQ(error + error, testing::internal::GetCapturedStderr());
    EXPECT_FALSE(none.IsOpen());
    Pty pty;
    const termios before = pty.attributes();
    VoSerialLinuxSNMP port(pty.m_name, eVoBaud9600, eVoDataBit8, false);
    ASSERT_TRUE(port.IsOpen());
    const termios tio = pty.attributes();
    EXPECT_EQ(std::make_tuple(tio.c_iflag, tio.c_oflag, tio.c_lflag,
                              tio.c_cflag & (CSIZE | CLOCAL | CREAD | PARENB | CSTOPB),
                              cfgetospeed(&tio), tio.c_cc[VMIN], tio.c_cc[VTIME]),
              std::make_tuple(tcflag_t(IGNPAR), tcflag_t(OPOST), tcflag_t(0),
                              tcflag_t(CS8 | CLOCAL | CREAD), speed_t(B9600), cc_t(1), cc_t(0)));
    const Bytes query{0x11, 0x00}, set{0xAA, 0x01, 0x0A};
    EXPECT_EQ(2, port.Send(query.data(), 2));
    EXPECT_EQ(-1, port.OnSend("\x12", 0));  // refused sends write nothing
    EXPECT_EQ(-1, port.Send(nullptr, 2));
    EXPECT_EQ(3, port.Send(set.data(), 3));  // the line feed is not translated
    EXPECT_EQ((Bytes{0x11, 0x00, 0xAA, 0x01, 0x0A}), pty.read(5));
    port.Close();
    port.Close();  // harmless
    EXPECT_FALSE(port.IsOpen());
    const termios after = pty.attributes();
    EXPECT_EQ(std::tie(before.c_lflag, before.c_iflag, before.c_oflag),
              std::tie(after.c_lflag, after.c_iflag, after.c_oflag));
    unsigned char buffer[16];
    EXPECT_EQ(-1, port.Send(query.data(), 2));
    EXPECT_EQ(-1, port.Receive(buffer, sizeof buffer));
    ASSERT_TRUE(port.Create(pty.m_name, eVoBaud9600, eVoDataBit8, false));

    kw::host::VirtualClockScope clock;
    ASSERT_EQ(5, write(pty.m_master, "\xFF\x02\x41\x12\x54", 5));  // SIGIO: to this thread
    EXPECT_EQ(5, port.Receive(buffer, sizeof buffer));
    EXPECT_EQ((Bytes{0xFF, 0x02, 0x41, 0x12, 0x54}), Bytes(buffer, buffer + 5));
    EXPECT_EQ(100u, Clock::now());
    kw::test::Contender loop([&] { EXPECT_EQ(1, port.ReceiveThread()); });
    EXPECT_TRUE(loop.blocked());
    port.StopReceiveThread();
    EXPECT_TRUE(loop.finish());
    EXPECT_EQ(100u, Clock::now());
}

// OnReceive plays a script (bytes, or the step's result 0 / -1), logging "receive <n> at
// <tick>"; once it is used up the port stops its own loop, so the loop runs on the test's thread.
class ScriptedPort : public VoSerialInterfaceSNMP {
public:
    using Step = std::pair<int, Bytes>;
    ScriptedPort(Strings& log, std::deque<Step> script) : m_log(log), m_script(std::move(script)) {}
    bool Create(const char*, eVoBaudRate, eVoDataBit, bool) override { return true; }
    void Close() override {}
    bool IsOpen() override { return true; }
    int OnSend(const char*, unsigned int count) override { return static_cast<int>(count); }
    int OnReceive(char* buffer, unsigned int capacity) override
    {
        if (m_script.empty()) return StopReceiveThread(), 0;
        auto [got, bytes] = m_script.front();
        m_script.pop_front();
        if (!bytes.empty()) got = static_cast<int>(std::min<size_t>(bytes.size(), capacity));
        std::copy(bytes.begin(), bytes.begin() + std::max(got, 0), buffer);
        m_log.push_back("receive " + std::to_string(got) + " at " + std::to_string(Clock::now()));
        return got;
    }
    Strings& m_log;
    std::deque<Step> m_script;
};

// Two frames in one burst, one pass; a split frame joined, also across failed receives (10 ms
// pauses); garbage drops the buffer, as does an empty wake-up; claiming nothing takes all.
TEST(SerialLoop, BurstsAreSplitJoinedAndCleared)
{
    const Bytes head{0xFF, 0x03, 0x41}, tail{0x11, 0x01, 0x55};
    const struct {
        std::deque<ScriptedPort::Step> script;
        Strings log;
        int used;  // what a plain receiver claims instead of the engine (-2: the engine)
    } cases[] = {
        {{{1, {0xFF, 0x03, 0x41, 0x11, 0x01, 0x55, 0xFF, 0x02, 0x41, 0x12, 0x54}},
          {1, head},
          {-1, {}},
          {-1, {}},
          {1, tail},
          {1, {0x00, 0xFF, 0x02, 0x41, 0x12, 0x54}},
          {1, {0xFF, 0x02, 0x41, 0x12, 0x54}}},
         {"receive 11 at 0", "offer 11: 0 6", "offer 5: 0 5", "receive 3 at 10", "offer 3: 2 3",
          "receive -1 at 20", "receive -1 at 30", "receive 3 at 40", "offer 6: 0 6",
          "receive 6 at 50", "offer 6: 1 6", "receive 5 at 60", "offer 5: 0 5"},
         -2},
        {{{1, head}, {0, {}}, {1, tail}},
         {"receive 3 at 0", "offer 3: 2 3", "receive 0 at 10", "receive 3 at 20", "offer 3: 1 3"},
         -2},
        {{{1, head}, {1, Bytes(1100, 0x00)}},  // the buffer holds 1024 bytes, no more
         {"receive 3 at 0", "offer 3: 2 3", "receive 1021 at 10", "offer 1024: 1 1024"},
         -2},
        {{{1, {0x01, 0x02}}, {1, {0x03}}},
         {"receive 2 at 0", "offer 2: 0 0", "receive 1 at 10", "offer 1: 0 0"},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        kw::host::VirtualClockScope clock;
        Strings log;
        ScriptedPort port(log, c.script);
        VoRIXSNMP engine;
        Tap tap(log, c.used == -2 ? &engine : nullptr, "offer", 0, c.used);
        port.AddReceiver(&tap);
        EXPECT_EQ(1, port.ReceiveThread());
        EXPECT_EQ(c.log, log);
    }
    // The walk: an unknown answer passes the bytes on; the first receiver that takes or refuses
    // them ends it, with len as that receiver left it.
    Strings log;
    ScriptedPort port(log, {});
    unsigned char data[4] = {};
    unsigned int len = 4;
    Tap odd(log, nullptr, "b", 7), taker(log, nullptr, "c", 0, 3), never(log, nullptr, "d", 1);
    for (auto* r : {&odd, &taker, &never}) port.AddReceiver(r);
    EXPECT_EQ(1, port.ProcReceiver(data, len));
    EXPECT_EQ((Strings{"b 4: 7 4", "c 4: 0 3"}), log);
}

}  // namespace
