// The module's serial transport: the port over a pseudo-terminal (the test plays the panel on the
// master), and the receive loop and receiver walk on a scripted port and the virtual clock.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <future>

#include "host/framework/Clock.h"
#include "link/VoRIXSNMP.h"
#include "link/VoSerialLinuxSNMP.h"
#include "runtime/VoLockSNMP.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Strings = std::vector<std::string>;
using kw::host::Clock;
using nsVoSerialSNMP::eVoBaud9600;
using nsVoSerialSNMP::eVoDataBit8;

constexpr auto kWaitLimit = std::chrono::seconds(10);

// SIGIO goes to one thread that always waits in a blocking call (all others block it): TSan
// defers, and can drop, a signal that lands outside a blocking call.
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
            while (poll(&p, 1, -1) <= 0) {  // a SIGIO handler ran: wait again
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

// A log of events from several threads; entries() and waitFor() select by prefix.
class EventLog {
public:
    void add(std::string entry)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_entries.push_back(std::move(entry));
        m_changed.notify_all();
    }
    Strings entries(const std::string& prefix = "")
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return matching(prefix);
    }
    bool waitFor(const std::string& prefix, size_t n)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_changed.wait_for(lock, kWaitLimit, [&] { return matching(prefix).size() >= n; }))
            return true;
        ADD_FAILURE() << testing::PrintToString(m_entries);
        return false;
    }

private:
    Strings matching(const std::string& prefix) const
    {
        Strings out;
        for (const auto& e : m_entries)
            if (e.compare(0, prefix.size(), prefix) == 0) out.push_back(e);
        return out;
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    Strings m_entries;
};

// Logs "<name> <len>: <result> <len after>" for every offer; forwards to an engine, or answers
// a fixed result and consumed length (-1: as offered).
class Tap : public VoPacketReceiverInterfaceSNMP {
public:
    Tap(EventLog& log, VoRIXSNMP* engine, std::string name = "offer", int result = 0,
        int consumed = -1)
        : m_log(log),
          m_engine(engine),
          m_name(std::move(name)),
          m_result(result),
          m_consumed(consumed)
    {
    }
    int CheckReceiveData(const unsigned char* data, unsigned int& len) override
    {
        const unsigned int offered = len;
        int result = m_result;
        if (m_engine)
            result = m_engine->CheckReceiveData(data, len);
        else if (m_consumed >= 0)
            len = static_cast<unsigned int>(m_consumed);
        m_log.add(m_name + " " + std::to_string(offered) + ": " + std::to_string(result) + " " +
                  std::to_string(len));
        return result;
    }

private:
    EventLog& m_log;
    VoRIXSNMP* m_engine;
    std::string m_name;
    int m_result, m_consumed;
};

// The engine's stored replies as "<cmd> <ack> <values...>" in hex, oldest first.
Strings replies(VoRIXSNMP& engine)
{
    VoAutoLockSNMP guard(&engine.m_ReplyLock);
    Strings out;
    for (const auto* r : engine.m_ReplyList) {
        char text[8];
        std::snprintf(text, sizeof(text), "%02X %c", r->nCmd, r->nAck);
        std::string line = text;
        for (unsigned int i = 0; i < r->nSize; ++i) {
            std::snprintf(text, sizeof(text), " %02X", r->pData[i]);
            line += text;
        }
        out.push_back(line);
    }
    return out;
}

// Runs a port's ReceiveThread on a thread of its own and stops it at the end of the scope.
class LoopRunner {
public:
    explicit LoopRunner(VoSerialInterfaceSNMP& port)
        : m_port(port),
          m_result(std::async(std::launch::async, [&port] { return port.ReceiveThread(); }))
    {
    }
    ~LoopRunner() { stop(); }

    // The loop's result, or -1 when it did not stop in time (then it is woken until it ends).
    int stop()
    {
        if (!m_result.valid()) return -1;
        m_port.StopReceiveThread();
        const bool stopped = m_result.wait_for(kWaitLimit) == std::future_status::ready;
        EXPECT_TRUE(stopped) << "the receive loop did not stop";
        while (m_result.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
            m_port.WakeReceive();
        const int result = m_result.get();
        return stopped ? result : -1;
    }

private:
    VoSerialInterfaceSNMP& m_port;
    std::future<int> m_result;
};

class Pty {
public:
    Pty()
    {
        char name[128] = {};
        if (openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            ADD_FAILURE() << "openpty: " << std::strerror(errno);
        m_path = name;
    }
    ~Pty()
    {
        close(m_master);
        close(m_slave);
    }

    const char* path() const { return m_path.c_str(); }
    termios attributes() const
    {
        termios tio{};
        EXPECT_EQ(tcgetattr(m_slave, &tio), 0);
        return tio;
    }
    void write(const Bytes& bytes)
    {
        ASSERT_EQ(::write(m_master, bytes.data(), bytes.size()),
                  static_cast<ssize_t>(bytes.size()));
    }
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
    int m_master = -1, m_slave = -1;
    std::string m_path;
};

// Logs "enter" and "receive <n>" around every OnReceive, and "closed" for a closed IsOpen.
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
    const termios before = pty.attributes();
    VoSerialLinuxSNMP port(pty.path(), eVoBaud9600, eVoDataBit8, false);
    ASSERT_TRUE(port.IsOpen());

    const termios tio = pty.attributes();  // raw, 8N1, 9600, one byte at a time
    EXPECT_EQ(std::make_tuple(tio.c_iflag, tio.c_oflag, tio.c_lflag,
                              tio.c_cflag & (CSIZE | CLOCAL | CREAD | PARENB | CSTOPB),
                              cfgetospeed(&tio), tio.c_cc[VMIN], tio.c_cc[VTIME]),
              std::make_tuple(tcflag_t(IGNPAR), tcflag_t(OPOST), tcflag_t(0),
                              tcflag_t(CS8 | CLOCAL | CREAD), speed_t(B9600), cc_t(1), cc_t(0)));

    const Bytes query{0x11, 0x00}, set{0xAA, 0x01, 0x0A};
    EXPECT_EQ(port.Send(query.data(), 2), 2);
    // Refused sends write nothing: the next bytes on the line are the following frame's.
    EXPECT_EQ(port.OnSend("\x12", 0), -1);
    EXPECT_EQ(port.Send(nullptr, 2), -1);
    EXPECT_EQ(port.Send(set.data(), 3), 3);  // the line feed is not translated
    EXPECT_EQ(pty.read(5), (Bytes{0x11, 0x00, 0xAA, 0x01, 0x0A}));

    // Close restores the line and refuses traffic without waiting; Create brings it back.
    port.Close();
    port.Close();  // a second Close is harmless
    EXPECT_FALSE(port.IsOpen());
    const termios after = pty.attributes();
    EXPECT_EQ(std::tie(after.c_lflag, after.c_iflag, after.c_oflag),
              std::tie(before.c_lflag, before.c_iflag, before.c_oflag));
    unsigned char buffer[16];
    EXPECT_EQ(port.Send(query.data(), 2), -1);
    EXPECT_EQ(port.OnSend("\x11\x00", 2), -1);
    EXPECT_EQ(port.Receive(buffer, sizeof(buffer)), -1);
    ASSERT_TRUE(port.Create(pty.path(), eVoBaud9600, eVoDataBit8, false));
    EXPECT_EQ(port.Send(query.data(), 2), 2);
    EXPECT_EQ(pty.read(2), query);
}

TEST(SerialPort, MissingDeviceReportsTheErrorAndALoopOnItPollsUntilStopped)
{
    const char* path = "/nonexistent-kwsnmp/ttyS9";
    kw::host::VirtualClockScope clock;
    EventLog log;
    testing::internal::CaptureStderr();
    ProbePort port(path, log);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string(path) + ": " + std::strerror(ENOENT) + "\n");
    EXPECT_FALSE(port.IsOpen());
    const size_t looksBefore = log.entries("closed").size();
    LoopRunner loop(port);
    ASSERT_TRUE(log.waitFor("closed", looksBefore + 3));
    EXPECT_EQ(loop.stop(), 1);
    // Every look at the closed port is followed by a 100 ms pause, and nothing is received.
    EXPECT_EQ(Clock::now(), 100u * (log.entries("closed").size() - looksBefore));
    EXPECT_TRUE(log.entries("enter").empty());
    const Bytes frame{0x11, 0x00};
    unsigned char buffer[16];
    EXPECT_EQ(port.Send(frame.data(), 2), -1);
    EXPECT_EQ(port.Receive(buffer, sizeof(buffer)), -1);
}

class SerialReceive : public testing::Test {
protected:
    SerialReceive() : m_port(m_pty.path(), m_log), m_tap(m_log, &m_engine)
    {
        m_port.AddReceiver(&m_tap);
        m_engine.m_pSender = &m_port;
    }

    Pty m_pty;
    EventLog m_log;
    ProbePort m_port;
    VoRIXSNMP m_engine;
    Tap m_tap;
};

// Two frames in one burst are delivered in one pass; a frame split across two bursts after the
// second; garbage before a frame drops everything buffered, so the next frame comes alone.
TEST_F(SerialReceive, BurstsAreSplitJoinedAndCleared)
{
    LoopRunner loop(m_port);
    m_pty.write({0xFF, 0x03, 0x41, 0x11, 0x01, 0x55, 0xFF, 0x02, 0x41, 0x12, 0x54});
    ASSERT_TRUE(m_log.waitFor("offer", 2));
    const auto log = m_log.entries();
    ASSERT_GE(log.size(), 4u);
    EXPECT_EQ(Strings(log.begin(), log.begin() + 4),
              (Strings{"enter", "receive 11", "offer 11: 0 6", "offer 5: 0 5"}));
    EXPECT_EQ(replies(m_engine), (Strings{"11 A 01", "12 A"}));

    m_pty.write({0xFF, 0x03, 0x41});
    ASSERT_TRUE(m_log.waitFor("offer", 3));
    EXPECT_EQ(replies(m_engine).size(), 2u);
    m_pty.write({0x11, 0x01, 0x55});
    ASSERT_TRUE(m_log.waitFor("offer", 4));
    m_pty.write({0x00, 0xFF, 0x03, 0x41, 0x11, 0x01, 0x55});
    ASSERT_TRUE(m_log.waitFor("offer", 5));
    m_pty.write({0xFF, 0x02, 0x41, 0x12, 0x54});
    ASSERT_TRUE(m_log.waitFor("offer", 6));
    EXPECT_EQ(loop.stop(), 1);
    EXPECT_EQ(m_log.entries("offer"), (Strings{"offer 11: 0 6", "offer 5: 0 5", "offer 3: 2 3",
                                               "offer 6: 0 6", "offer 7: 1 7", "offer 5: 0 5"}));
    EXPECT_EQ(replies(m_engine), (Strings{"11 A 01", "12 A", "11 A 01", "12 A"}));
}

TEST_F(SerialReceive, StopReleasesALoopBlockedInReceiveAtOnce)
{
    kw::host::VirtualClockScope clock;
    LoopRunner loop(m_port);
    ASSERT_TRUE(m_log.waitFor("enter", 1));
    EXPECT_EQ(loop.stop(), 1);
    // No SIGIO came: the stop itself woke it, and it skipped the 100 ms burst wait.
    EXPECT_EQ(m_log.entries(), (Strings{"enter", "receive 0"}));
    EXPECT_EQ(Clock::now(), 0u);
}

// OnReceive plays a script (bytes, or the step's result 0 / -1), logging "receive <n> at <tick>";
// once used up it logs "idle" and blocks until woken, as a real port waits for input.
class ScriptedPort : public VoSerialInterfaceSNMP {
public:
    struct Step {
        int result;
        Bytes bytes;
    };
    ScriptedPort(EventLog& log, std::deque<Step> script) : m_log(log), m_script(std::move(script))
    {
    }

    bool Create(const char*, nsVoSerialSNMP::eVoBaudRate, nsVoSerialSNMP::eVoDataBit, bool) override
    {
        return true;
    }
    void Close() override {}
    bool IsOpen() override { return true; }
    int OnSend(const char*, unsigned int count) override { return static_cast<int>(count); }
    int OnReceive(char* buffer, unsigned int capacity) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_script.empty()) {
            m_log.add("idle");
            m_wake.wait(lock, [&] { return m_woken; });
            m_woken = false;
            return 0;
        }
        Step step = std::move(m_script.front());
        m_script.pop_front();
        int got = step.result;
        if (!step.bytes.empty()) {
            got = static_cast<int>(std::min<size_t>(step.bytes.size(), capacity));
            std::memcpy(buffer, step.bytes.data(), static_cast<size_t>(got));
        }
        m_log.add("receive " + std::to_string(got) + " at " + std::to_string(Clock::now()));
        return got;
    }
    void WakeReceive() override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_woken = true;
        m_wake.notify_all();
    }

private:
    EventLog& m_log;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_woken = false;
    std::deque<Step> m_script;
};

// A negative receive keeps the buffer and pauses 10 ms (no spinning); an empty wake-up
// discards a half-received frame.
TEST(SerialLoop, FailedAndEmptyReceivesAreHandled)
{
    const struct {
        std::deque<ScriptedPort::Step> script;
        Strings receives, offers, replies;
    } cases[] = {
        {{{1, {0xFF, 0x03, 0x41}}, {-1, {}}, {-1, {}}, {-1, {}}, {1, {0x11, 0x01, 0x55}}},
         {"receive 3 at 0", "receive -1 at 10", "receive -1 at 20", "receive -1 at 30",
          "receive 3 at 40"},
         {"offer 3: 2 3", "offer 6: 0 6"},
         {"11 A 01"}},
        {{{1, {0xFF, 0x03, 0x41}}, {0, {}}, {1, {0x11, 0x01, 0x55}}},
         {},
         {"offer 3: 2 3", "offer 3: 1 3"},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.offers.back());
        kw::host::VirtualClockScope clock;
        EventLog log;
        ScriptedPort port(log, c.script);
        VoRIXSNMP engine;
        Tap tap(log, &engine);
        port.AddReceiver(&tap);
        LoopRunner loop(port);
        ASSERT_TRUE(log.waitFor("idle", 1));
        EXPECT_EQ(loop.stop(), 1);
        if (!c.receives.empty()) {
            EXPECT_EQ(log.entries("receive"), c.receives);
        }
        EXPECT_EQ(log.entries("offer"), c.offers);
        EXPECT_EQ(replies(engine), c.replies);
    }
}

TEST(SerialLoop, ReceiverWalkPassesOnIncompleteAndStopsAtTheFirstAnswer)
{
    EventLog log;
    ScriptedPort port(log, {});
    unsigned char data[4] = {};
    unsigned int len = 4;
    EXPECT_EQ(port.ProcReceiver(data, len), 0);  // nobody registered

    Tap incomplete(log, nullptr, "a", 2), odd(log, nullptr, "b", 7), taker(log, nullptr, "c", 0, 3),
        never(log, nullptr, "d", 1);
    for (auto* r : {&incomplete, &odd, &taker, &never}) port.AddReceiver(r);
    EXPECT_EQ(port.ProcReceiver(data, len), 1);
    EXPECT_EQ(len, 3u);
    EXPECT_EQ(log.entries(), (Strings{"a 4: 2 4", "b 4: 7 4", "c 4: 0 3"}));

    ScriptedPort onlyIncomplete(log, {});
    onlyIncomplete.AddReceiver(&incomplete);
    onlyIncomplete.AddReceiver(&incomplete);
    len = 4;
    EXPECT_EQ(onlyIncomplete.ProcReceiver(data, len), 0);
    EXPECT_EQ(len, 4u);

    // A receiver claiming nothing counts as having taken all: the next burst comes alone.
    EventLog loopLog;
    ScriptedPort looping(loopLog, {{1, {0x01, 0x02}}, {1, {0x03}}});
    Tap claimsNothing(loopLog, nullptr, "r", 0, 0);
    looping.AddReceiver(&claimsNothing);
    kw::host::VirtualClockScope clock;
    LoopRunner loop(looping);
    ASSERT_TRUE(loopLog.waitFor("idle", 1));
    EXPECT_EQ(loop.stop(), 1);
    EXPECT_EQ(loopLog.entries("r "), (Strings{"r 2: 0 0", "r 1: 0 0"}));
}

}  // namespace
