// The serial port over a pseudo-terminal: the port opens the slave by its path, the test plays
// the panel on the master. Bursts pass through the port's real 100 ms gathering wait, so the
// tests that receive keep their bursts few.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/framework/Clock.h"
#include "link/VoSerialLinuxSNMP.h"
#include "tests/serial/SerialTestSupport.h"

namespace kw::serialtest {
namespace {

// SIGIO is taken by one thread that does nothing else and always waits in a blocking call;
// every other thread blocks it. The thread sanitizer runs a handler at once only when the
// signal lands in a blocking call and otherwise defers it, and its runtime here can drop a
// deferred signal; with the sink the handler's post is never at the mercy of that.
class SigioSink : public testing::Environment {
public:
    void SetUp() override
    {
        sigset_t io;
        sigemptyset(&io);
        sigaddset(&io, SIGIO);
        pthread_sigmask(SIG_BLOCK, &io, nullptr);  // inherited by every thread started later
        ASSERT_EQ(pipe(m_stop), 0);
        m_thread = std::thread([this, io] {
            pthread_sigmask(SIG_UNBLOCK, &io, nullptr);
            pollfd p{m_stop[0], POLLIN, 0};
            while (poll(&p, 1, -1) <= 0) {
                // Interrupted by a SIGIO whose handler has run: wait again.
            }
        });
    }

    void TearDown() override
    {
        if (!m_thread.joinable()) return;
        EXPECT_EQ(::write(m_stop[1], "x", 1), 1);
        m_thread.join();
        close(m_stop[0]);
        close(m_stop[1]);
    }

private:
    int m_stop[2] = {-1, -1};
    std::thread m_thread;
};
[[maybe_unused]] const auto* const g_sigioSink = testing::AddGlobalTestEnvironment(new SigioSink);

using Bytes = std::vector<unsigned char>;
using nsVoSerialSNMP::eVoBaud9600;
using nsVoSerialSNMP::eVoDataBit8;

class Pty {
public:
    Pty()
    {
        char name[128] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
            ADD_FAILURE() << "openpty: " << std::strerror(errno);
            return;
        }
        m_path = name;
    }
    ~Pty()
    {
        if (m_master != -1) close(m_master);
        if (m_slave != -1) close(m_slave);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    const char* path() const { return m_path.c_str(); }
    // The test's own slave descriptor: it keeps the line up and shows its attributes.
    int slave() const { return m_slave; }

    void write(const Bytes& bytes)
    {
        ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }

    // What the port wrote, up to n bytes; fewer when nothing more comes within the limit.
    Bytes read(size_t n)
    {
        Bytes out;
        const auto deadline = std::chrono::steady_clock::now() + kWaitLimit;
        while (out.size() < n && std::chrono::steady_clock::now() < deadline) {
            pollfd p{m_master, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;  // SIGIO may interrupt it
            unsigned char chunk[64];
            const ssize_t got = ::read(m_master, chunk, std::min(sizeof(chunk), n - out.size()));
            if (got > 0) out.insert(out.end(), chunk, chunk + got);
        }
        return out;
    }

private:
    int m_master = -1;
    int m_slave = -1;
    std::string m_path;
};

// Logs "receive <n>" for every OnReceive that returns.
class ProbePort : public VoSerialLinuxSNMP {
public:
    ProbePort(const char* path, EventLog& log)
        : VoSerialLinuxSNMP(path, eVoBaud9600, eVoDataBit8, false), m_log(log)
    {
    }

    int OnReceive(char* buffer, unsigned int capacity) override
    {
        m_log.add("enter");
        const int got = VoSerialLinuxSNMP::OnReceive(buffer, capacity);
        m_log.add("receive " + std::to_string(got));
        return got;
    }

    bool IsOpen() override
    {
        const bool open = VoSerialLinuxSNMP::IsOpen();
        if (!open) m_log.add("closed");
        return open;
    }

private:
    EventLog& m_log;
};

TEST(SerialPort, WritesEngineFramesExactlyOnARawLine)
{
    Pty pty;
    VoSerialLinuxSNMP port(pty.path(), eVoBaud9600, eVoDataBit8, false);
    ASSERT_TRUE(port.IsOpen());

    termios tio{};
    ASSERT_EQ(tcgetattr(pty.slave(), &tio), 0);
    EXPECT_EQ(tio.c_iflag, static_cast<tcflag_t>(IGNPAR));
    EXPECT_EQ(tio.c_oflag, static_cast<tcflag_t>(OPOST));
    EXPECT_EQ(tio.c_lflag, 0u);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD | PARENB | CSTOPB),
              static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
    EXPECT_EQ(tio.c_cc[VMIN], 1);
    EXPECT_EQ(tio.c_cc[VTIME], 0);

    const Bytes query{0x11, 0x00};
    EXPECT_EQ(port.Send(query.data(), 2), 2);
    // Refused sends write nothing: the next bytes on the line are the following frame's.
    EXPECT_EQ(port.OnSend("\x12", 0), -1);
    EXPECT_EQ(port.Send(nullptr, 2), -1);
    // A line feed inside a frame must not be translated on the way out.
    const Bytes set{0xAA, 0x01, 0x0A};
    EXPECT_EQ(port.Send(set.data(), 3), 3);

    EXPECT_EQ(pty.read(5), (Bytes{0x11, 0x00, 0xAA, 0x01, 0x0A}));
}

TEST(SerialPort, CloseRestoresTheLineAndRefusesTraffic)
{
    Pty pty;
    termios before{};
    ASSERT_EQ(tcgetattr(pty.slave(), &before), 0);

    VoSerialLinuxSNMP port(pty.path(), eVoBaud9600, eVoDataBit8, false);
    ASSERT_TRUE(port.IsOpen());
    port.Close();

    EXPECT_FALSE(port.IsOpen());
    termios after{};
    ASSERT_EQ(tcgetattr(pty.slave(), &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);

    const Bytes frame{0x11, 0x00};
    EXPECT_EQ(port.Send(frame.data(), 2), -1);
    unsigned char buffer[16];
    EXPECT_EQ(port.Receive(buffer, sizeof(buffer)), -1);  // and does not wait
    port.Close();                                         // a second Close is harmless

    // A new Create brings the same object back.
    ASSERT_TRUE(port.Create(pty.path(), eVoBaud9600, eVoDataBit8, false));
    EXPECT_EQ(port.Send(frame.data(), 2), 2);
    EXPECT_EQ(pty.read(2), frame);
}

TEST(SerialPort, MissingDeviceReportsTheSystemErrorWithThePath)
{
    const char* path = "/nonexistent-kwsnmp/ttyS9";
    testing::internal::CaptureStderr();
    VoSerialLinuxSNMP port(path, eVoBaud9600, eVoDataBit8, false);
    const std::string err = testing::internal::GetCapturedStderr();

    EXPECT_EQ(err, std::string(path) + ": " + std::strerror(ENOENT) + "\n");
    EXPECT_FALSE(port.IsOpen());
    const Bytes frame{0x11, 0x00};
    EXPECT_EQ(port.Send(frame.data(), 2), -1);
    unsigned char buffer[16];
    EXPECT_EQ(port.Receive(buffer, sizeof(buffer)), -1);
}

TEST(SerialPort, LoopOnAClosedPortPollsWithoutReceivingAndStops)
{
    kw::host::VirtualClockScope clock;
    EventLog log;
    testing::internal::CaptureStderr();
    ProbePort port("/nonexistent-kwsnmp/ttyS9", log);
    testing::internal::GetCapturedStderr();

    LoopRunner loop(port);
    ASSERT_TRUE(log.waitFor("closed", 3)) << testing::PrintToString(log.entries());
    EXPECT_EQ(loop.stop(), 1);

    // Every look at the closed port is followed by a 100 ms pause, and nothing is received.
    const auto closedLooks = log.entries("closed").size();
    EXPECT_EQ(kw::host::Clock::now(), 100u * closedLooks);
    EXPECT_TRUE(log.entries("enter").empty());
}

class SerialReceive : public testing::Test {
protected:
    SerialReceive() : m_port(m_pty.path(), m_log), m_tap(m_engine, m_log)
    {
        m_port.AddReceiver(&m_tap);
        m_engine.m_pSender = &m_port;
    }

    Pty m_pty;
    EventLog m_log;
    ProbePort m_port;
    VoRIXSNMP m_engine;
    EngineTap m_tap;
};

TEST_F(SerialReceive, TwoFramesInOneBurstAreDeliveredInOnePass)
{
    ASSERT_TRUE(m_port.IsOpen());
    LoopRunner loop(m_port);
    m_pty.write({0xFF, 0x03, 0x41, 0x11, 0x01, 0x55, 0xFF, 0x02, 0x41, 0x12, 0x54});
    ASSERT_TRUE(m_log.waitFor("offer", 2)) << testing::PrintToString(m_log.entries());
    EXPECT_EQ(loop.stop(), 1);

    const auto log = m_log.entries();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + 4),
              (std::vector<std::string>{"enter", "receive 11", "offer 11: 0 6", "offer 5: 0 5"}));
    EXPECT_EQ(m_log.entries("offer").size(), 2u);  // the buffer was left empty
    EXPECT_EQ(replies(m_engine), (std::vector<std::string>{"11 A 01", "12 A"}));
}

TEST_F(SerialReceive, AFrameSplitAcrossTwoBurstsIsDeliveredAfterTheSecond)
{
    LoopRunner loop(m_port);
    m_pty.write({0xFF, 0x03, 0x41});
    ASSERT_TRUE(m_log.waitFor("offer", 1)) << testing::PrintToString(m_log.entries());
    EXPECT_TRUE(replies(m_engine).empty());

    m_pty.write({0x11, 0x01, 0x55});
    ASSERT_TRUE(m_log.waitFor("offer", 2)) << testing::PrintToString(m_log.entries());
    EXPECT_EQ(m_log.entries("offer"), (std::vector<std::string>{"offer 3: 2 3", "offer 6: 0 6"}));
    EXPECT_EQ(replies(m_engine), (std::vector<std::string>{"11 A 01"}));
}

TEST_F(SerialReceive, GarbageBeforeAFrameDropsEverythingBuffered)
{
    LoopRunner loop(m_port);
    m_pty.write({0x00, 0xFF, 0x03, 0x41, 0x11, 0x01, 0x55});
    ASSERT_TRUE(m_log.waitFor("offer", 1)) << testing::PrintToString(m_log.entries());
    EXPECT_TRUE(replies(m_engine).empty());

    // The next frame is offered on its own: nothing of the dropped burst is left in front.
    m_pty.write({0xFF, 0x02, 0x41, 0x12, 0x54});
    ASSERT_TRUE(m_log.waitFor("offer", 2)) << testing::PrintToString(m_log.entries());
    EXPECT_EQ(m_log.entries("offer"), (std::vector<std::string>{"offer 7: 1 7", "offer 5: 0 5"}));
    EXPECT_EQ(replies(m_engine), (std::vector<std::string>{"12 A"}));
}

TEST_F(SerialReceive, StopReleasesALoopBlockedInReceiveAtOnce)
{
    kw::host::VirtualClockScope clock;
    LoopRunner loop(m_port);
    ASSERT_TRUE(m_log.waitFor("enter", 1)) << testing::PrintToString(m_log.entries());

    EXPECT_EQ(loop.stop(), 1);
    // No SIGIO came: the stop itself woke it, and it skipped the 100 ms burst wait.
    EXPECT_EQ(m_log.entries(), (std::vector<std::string>{"enter", "receive 0"}));
    EXPECT_EQ(kw::host::Clock::now(), 0u);
}

}  // namespace
}  // namespace kw::serialtest
