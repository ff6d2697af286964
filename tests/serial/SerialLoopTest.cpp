// The receive loop and the receiver walk, on a scripted port and the virtual clock.
#include <cstring>
#include <deque>

#include "host/framework/Clock.h"
#include "tests/serial/SerialTestSupport.h"

namespace kw::serialtest {
namespace {

using Bytes = std::vector<unsigned char>;
using kw::host::Clock;

// A port whose OnReceive plays a script: each step hands over bytes, or returns 0 or -1 when
// the step is {0} or {-1} in `results`. Once the script is used up it blocks until woken,
// as a real port waits for input. Every return is logged as "receive <n> at <tick>".
class ScriptedPort : public VoSerialInterfaceSNMP {
public:
    struct Step {
        int result;  // > 0: hand over bytes
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
        if (got > 0) {
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

ScriptedPort::Step bytes(Bytes b)
{
    return {1, std::move(b)};
}
ScriptedPort::Step result(int r)
{
    return {r, {}};
}

struct LoopRig {
    explicit LoopRig(std::deque<ScriptedPort::Step> script)
        : port(log, std::move(script)), tap(engine, log)
    {
        port.AddReceiver(&tap);
    }

    kw::host::VirtualClockScope clock;
    EventLog log;
    ScriptedPort port;
    VoRIXSNMP engine;
    EngineTap tap;
};

TEST(SerialLoop, NegativeReceiveKeepsTheBufferAndPauses)
{
    LoopRig rig(
        {bytes({0xFF, 0x03, 0x41}), result(-1), result(-1), result(-1), bytes({0x11, 0x01, 0x55})});
    LoopRunner loop(rig.port);
    ASSERT_TRUE(rig.log.waitFor("idle", 1)) << testing::PrintToString(rig.log.entries());
    EXPECT_EQ(loop.stop(), 1);

    // 10 ms between receives: no spinning, and the three bytes waited through the failures.
    EXPECT_EQ(rig.log.entries("receive"),
              (std::vector<std::string>{"receive 3 at 0", "receive -1 at 10", "receive -1 at 20",
                                        "receive -1 at 30", "receive 3 at 40"}));
    EXPECT_EQ(rig.log.entries("offer"), (std::vector<std::string>{"offer 3: 2 3", "offer 6: 0 6"}));
    EXPECT_EQ(replies(rig.engine), (std::vector<std::string>{"11 A 01"}));
}

TEST(SerialLoop, AnEmptyWakeUpDiscardsAHalfReceivedFrame)
{
    LoopRig rig({bytes({0xFF, 0x03, 0x41}), result(0), bytes({0x11, 0x01, 0x55})});
    LoopRunner loop(rig.port);
    ASSERT_TRUE(rig.log.waitFor("idle", 1)) << testing::PrintToString(rig.log.entries());
    EXPECT_EQ(loop.stop(), 1);

    EXPECT_EQ(rig.log.entries("offer"), (std::vector<std::string>{"offer 3: 2 3", "offer 3: 1 3"}));
    EXPECT_TRUE(replies(rig.engine).empty());
}

// Answers with a fixed result and consumed length, and logs its name.
class FixedReceiver : public VoPacketReceiverInterfaceSNMP {
public:
    FixedReceiver(EventLog& log, std::string name, int result, int consumed = -1)
        : m_log(log), m_name(std::move(name)), m_result(result), m_consumed(consumed)
    {
    }
    int CheckReceiveData(const unsigned char*, unsigned int& len) override
    {
        m_log.add(m_name + " " + std::to_string(len));
        if (m_consumed >= 0) len = static_cast<unsigned int>(m_consumed);
        return m_result;
    }

private:
    EventLog& m_log;
    std::string m_name;
    int m_result;
    int m_consumed;
};

TEST(SerialLoop, ReceiverWalkPassesOnIncompleteAndStopsAtTheFirstAnswer)
{
    EventLog log;
    ScriptedPort port(log, {});
    unsigned char data[4] = {};
    unsigned int len = 4;
    EXPECT_EQ(port.ProcReceiver(data, len), 0);  // nobody registered

    FixedReceiver incomplete(log, "a", 2);
    FixedReceiver odd(log, "b", 7);
    FixedReceiver taker(log, "c", 0, 3);
    FixedReceiver never(log, "d", 1);
    port.AddReceiver(&incomplete);
    port.AddReceiver(&odd);
    port.AddReceiver(&taker);
    port.AddReceiver(&never);
    EXPECT_EQ(port.ProcReceiver(data, len), 1);
    EXPECT_EQ(len, 3u);
    EXPECT_EQ(log.entries(), (std::vector<std::string>{"a 4", "b 4", "c 4"}));

    ScriptedPort onlyIncomplete(log, {});
    onlyIncomplete.AddReceiver(&incomplete);
    onlyIncomplete.AddReceiver(&incomplete);
    len = 4;
    EXPECT_EQ(onlyIncomplete.ProcReceiver(data, len), 0);
    EXPECT_EQ(len, 4u);
}

TEST(SerialLoop, AReceiverClaimingNothingDoesNotStallTheLoop)
{
    EventLog log;
    ScriptedPort port(log, {bytes({0x01, 0x02}), bytes({0x03})});
    FixedReceiver claimsNothing(log, "r", 0, 0);
    port.AddReceiver(&claimsNothing);
    kw::host::VirtualClockScope clock;
    LoopRunner loop(port);
    ASSERT_TRUE(log.waitFor("idle", 1)) << testing::PrintToString(log.entries());
    EXPECT_EQ(loop.stop(), 1);
    // Treated as having taken the whole buffer: the next burst is offered alone.
    EXPECT_EQ(log.entries("r "), (std::vector<std::string>{"r 2", "r 1"}));
}

}  // namespace
}  // namespace kw::serialtest
