// The agent library in this process, driven over UDP by the independent mini client.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <dlfcn.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "snmp/AgentControl.h"
#include "tests/snmp/FakePanel.h"
#include "tests/snmp/MiniSnmp.h"

namespace kw::snmptest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Oid scalar(int index)
{
    Oid oid = kw::snmp::controlOid();
    oid.insert(oid.end(), {static_cast<uint32_t>(index + 1), 0});
    return oid;
}

Oid holiday(uint32_t entry)
{
    return kw::snmp::holidayValueInstance(entry);
}

const Oid kSysUpTime = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const Oid kSysObjectId = {1, 3, 6, 1, 2, 1, 1, 2, 0};

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

bool underRoot(const Oid& oid)
{
    const Oid& root = kw::snmp::rootOid();
    return oid.size() >= root.size() && std::equal(root.begin(), root.end(), oid.begin());
}

class AgentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        panel().reset();
        m_agent = std::make_unique<AgentHarness>();
        ASSERT_EQ(m_agent->readyState(), SNMP_AGENT_READY);
        m_public = std::make_unique<MiniSnmp>(m_agent->port(), "public");
        m_private = std::make_unique<MiniSnmp>(m_agent->port(), "private");
    }
    void TearDown() override
    {
        panel().release();
        m_agent.reset();
    }
    static FakePanel& panel() { return FakePanel::instance(); }
    int errorOf(std::optional<Response> answer) { return answer ? answer->errorStatus : -1; }

    std::unique_ptr<AgentHarness> m_agent;
    std::unique_ptr<MiniSnmp> m_public;
    std::unique_ptr<MiniSnmp> m_private;
};

TEST_F(AgentTest, LoadsThisLibraryNotTheSystemOne)
{
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&main_snmp), &info), 0);
    EXPECT_EQ(std::string(info.dli_fname).find("/usr/lib"), std::string::npos) << info.dli_fname;
}

TEST_F(AgentTest, GetsAndSetsReachTheCallbackOnTheAgentThread)
{
    panel().state()->rows[3] = {0x01};
    auto got = m_public->get(scalar(3));
    ASSERT_TRUE(got);
    ASSERT_EQ(got->errorStatus, kNoError);
    ASSERT_EQ(got->varbinds.size(), 1u);
    EXPECT_EQ(got->varbinds[0].type, kTagOctetString);
    EXPECT_EQ(got->varbinds[0].bytes, "01");
    ASSERT_EQ(errorOf(m_private->set(scalar(3), "0a")), kNoError);
    EXPECT_EQ(panel().state()->rows[3], std::vector<uint8_t>{0x0A});
    EXPECT_EQ(m_public->get(scalar(3))->varbinds[0].bytes, "0A");
    const auto calls = panel().state()->calls;
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].getset, 0);
    EXPECT_EQ(calls[1].extra, 2);  // the text's length
    for (const auto& call : calls) {
        EXPECT_EQ(call.thread, m_agent->agentThread());
        EXPECT_EQ(call.index, 3);
    }

    // A timer row takes fifteen bytes, spaced or joined.
    const std::string spaced = "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E FF";
    ASSERT_EQ(errorOf(m_private->set(scalar(51), spaced)), kNoError);
    EXPECT_EQ(m_public->get(scalar(51))->varbinds[0].bytes, spaced);
    ASSERT_EQ(errorOf(m_private->set(scalar(57), "0102030405060708090a0b0c0d0eff")), kNoError);
    EXPECT_EQ(m_public->get(scalar(57))->varbinds[0].bytes, spaced);

    // The safety screen's text length chooses its form.
    for (const std::string text :
         {"010203", "01 02 03", "01020304050607", "01 02 03 04 05 06 07"}) {
        EXPECT_EQ(errorOf(m_private->set(scalar(73), text)), kNoError) << text;
        EXPECT_EQ(panel().state()->calls.back().extra, static_cast<int>(text.size()));
    }
    EXPECT_EQ(m_public->get(scalar(73))->varbinds[0].bytes, "01 02 03 04 05 06 07");

    // Text rows end at the first zero byte.
    panel().state()->texts[4] = std::string("AB\0CD", 5);
    EXPECT_EQ(m_public->get(scalar(4))->varbinds[0].bytes, "AB");
    EXPECT_EQ(m_public->get(scalar(8))->varbinds[0].bytes, "SN0123456789");
}

TEST_F(AgentTest, HolidayEntriesAndTheirWalk)
{
    auto entry = m_public->get(holiday(2));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->varbinds[0].bytes, "02 01 01 00 00");
    EXPECT_EQ(panel().state()->calls.back().extra, 2);
    EXPECT_TRUE(panel().state()->calls.back().holiday);

    // Walking from the count row lists entries 1..count, then the next scalar.
    Oid at = scalar(59);
    for (const Oid& expected : {holiday(1), holiday(2), holiday(3), scalar(61)}) {
        auto next = m_public->getNext(at);
        ASSERT_TRUE(next);
        ASSERT_EQ(next->errorStatus, kNoError);
        EXPECT_EQ(next->varbinds[0].oid, expected);
        at = next->varbinds[0].oid;
    }
    panel().state()->holidays.clear();  // no entries: the table is passed over
    EXPECT_EQ(m_public->getNext(scalar(59))->varbinds[0].oid, scalar(61));
}

TEST_F(AgentTest, RefusalsAndBadValuesNeverReachThePanel)
{
    Oid wrongInstance = scalar(3);
    wrongInstance.back() = 1;
    MiniSnmp v1(m_agent->port(), "private", 0);
    const struct {
        MiniSnmp* client;
        Oid oid;
        std::string text;
        int error;
    } sets[] = {
        // Read-only rows, holiday entries and missing objects are not writable.
        {m_private.get(), scalar(4), "01", kNotWritable},
        {m_private.get(), scalar(59), "01", kNotWritable},
        {m_private.get(), holiday(1), "01 02 03 04 05", kNotWritable},
        {m_private.get(), scalar(1), "01", kNotWritable},
        {m_private.get(), wrongInstance, "01", kNoCreation},
        {m_private.get(), scalar(11), "0G", kWrongValue},
        {m_private.get(), scalar(11), "1", kWrongValue},
        {m_private.get(), scalar(11), "01 ", kWrongValue},
        {m_private.get(), scalar(11), " 01", kWrongValue},
        {m_private.get(), scalar(11), "01  02", kWrongValue},
        {m_private.get(), scalar(11), "01 0203", kWrongValue},
        {m_private.get(), scalar(11), "0x01", kWrongValue},
        {m_private.get(), scalar(3), "", kWrongLength},
        {m_private.get(), scalar(3), "01 02", kWrongLength},
        {m_private.get(), scalar(51), "01 02", kWrongLength},
        {m_private.get(), scalar(73), "0102030405", kWrongLength},  // neither form
        {&v1, scalar(4), "01", kNoSuchName},
        {&v1, scalar(3), "zz", kBadValue},
    };
    for (const auto& c : sets) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(errorOf(c.client->set(c.oid, c.text)), c.error);
    }
    const Varbind integer{scalar(3), kTagInteger, "\x01"};
    EXPECT_EQ(errorOf(m_private->request(kPduSet, {integer})), kWrongType);
    EXPECT_NE(errorOf(m_public->set(scalar(3), "01")), kNoError);  // the read community

    // Set-only rows read as noSuchInstance; a walk skips them.
    for (int index : {12, 22, 33, 58, 87}) {
        EXPECT_EQ(m_public->get(scalar(index))->varbinds[0].type, kNoSuchInstance) << index;
    }
    EXPECT_EQ(m_public->get(scalar(2))->varbinds[0].type, kNoSuchObject);
    EXPECT_EQ(m_public->get(wrongInstance)->varbinds[0].type, kNoSuchInstance);
    EXPECT_EQ(errorOf(v1.get(scalar(12))), kNoSuchName);
    EXPECT_TRUE(panel().state()->calls.empty());
    EXPECT_EQ(m_public->getNext(scalar(11))->varbinds[0].oid, scalar(13));
}

TEST_F(AgentTest, PanelFailureIsAnErrorNeverAValue)
{
    panel().state()->failing[13] = true;
    auto got = m_public->get(scalar(13));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->errorStatus, kGenErr);
    EXPECT_EQ(got->errorIndex, 1);
    EXPECT_EQ(errorOf(m_private->set(scalar(13), "01")), kCommitFailed);
    EXPECT_EQ(errorOf(MiniSnmp(m_agent->port(), "private", 0).set(scalar(13), "02")), kGenErr);
    // SNMPv1 has genErr too: a failed read must not turn into noSuchName.
    EXPECT_EQ(errorOf(MiniSnmp(m_agent->port(), "public", 0).get(scalar(13))), kGenErr);
    // A walk that meets a failing row stops with the error rather than inventing a value.
    EXPECT_EQ(errorOf(m_public->getNext(scalar(11))), kGenErr);
    panel().state()->failing[59] = true;  // the holiday count: the table cannot be walked either
    EXPECT_EQ(errorOf(m_public->getNext(scalar(59))), kGenErr);

    // A set failing after an earlier write reached the panel cannot be undone.
    panel().state()->failing[17] = true;
    const std::vector<Varbind> both{stringVarbind(scalar(16), "05"),
                                    stringVarbind(scalar(17), "06")};
    EXPECT_EQ(errorOf(m_private->request(kPduSet, both)), kUndoFailed);
    EXPECT_EQ(panel().state()->rows[16], std::vector<uint8_t>{0x05});
    // The first one failing stops the rest.
    panel().reset();
    panel().state()->failing[16] = true;
    auto set = m_private->request(kPduSet, both);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->errorStatus, kCommitFailed);
    EXPECT_EQ(set->errorIndex, 1);
    EXPECT_EQ(panel().callCount(17), 0u);
}

TEST_F(AgentTest, SystemGroupStaysFastWhileThePanelIsSlow)
{
    panel().state()->delay = 1500ms;
    for (bool viaSet : {false, true}) {
        MiniSnmp slow(m_agent->port(), "private");
        slow.post(viaSet ? kPduSet : kPduGet,
                  viaSet ? stringVarbind(scalar(3), "01") : nullVarbind(scalar(3)));
        ASSERT_TRUE(panel().waitForStarted(viaSet ? 2 : 1, 2000));
        long long worst = 0;
        for (int i = 0; i < 5; ++i) {
            const auto start = Clock::now();
            auto up = m_public->request(kPduGet,
                                        {nullVarbind(kSysUpTime), nullVarbind(kSysObjectId)}, 1000);
            ASSERT_TRUE(up);
            worst = std::max(worst, msSince(start));
            EXPECT_EQ(up->varbinds[0].type, kTagTimeticks);
            EXPECT_EQ(up->varbinds[1].bytes.size(), 9u);  // 1.3.6.1.4.1.32473.1, BER
        }
        std::printf("sysUpTime during a slow panel %s: worst %lld ms\n", viaSet ? "set" : "get",
                    worst);
        EXPECT_LT(worst, 50);
        EXPECT_EQ(errorOf(slow.receive(3000)), kNoError);
    }

    // Get wall time over the panel's own 100 ms.
    panel().state()->delay = 100ms;
    const auto start = Clock::now();
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(errorOf(m_public->get(scalar(3))), kNoError);
    }
    std::printf("get wall time with a 100 ms panel: %lld ms average\n", msSince(start) / 5);
    EXPECT_LT(msSince(start) / 5, 150);
}

TEST_F(AgentTest, RequestsAreServedOneAtATimeInArrivalOrder)
{
    // A slow get, then a set and a get behind it; the system group is not held up meanwhile.
    panel().state()->delay = 300ms;
    std::vector<std::unique_ptr<MiniSnmp>> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(std::make_unique<MiniSnmp>(m_agent->port(), "private"));
        clients.back()->post(i == 1 ? kPduSet : kPduGet, i == 1 ? stringVarbind(scalar(14), "05")
                                                                : nullVarbind(scalar(13 + i)));
        if (i == 0) {
            ASSERT_TRUE(panel().waitForStarted(1, 2000));
        }
        std::this_thread::sleep_for(5ms);  // fixes the arrival order
    }
    const auto start = Clock::now();
    ASSERT_TRUE(m_public->get(kSysUpTime, 1000));
    EXPECT_LT(msSince(start), 50);
    for (auto& client : clients) {
        EXPECT_EQ(errorOf(client->receive(5000)), kNoError);
    }
    const auto calls = panel().state()->calls;
    ASSERT_EQ(calls.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(calls[i].index, 13 + i);
    }
    EXPECT_EQ(calls[1].getset, 0);
    EXPECT_EQ(panel().state()->maxInside, 1);
}

TEST_F(AgentTest, RetransmissionsReachThePanelOnce)
{
    panel().state()->delay = 600ms;
    const std::string packet = m_private->encode(kPduSet, 4242, {stringVarbind(scalar(12), "01")});
    m_private->send(packet);
    ASSERT_TRUE(panel().waitForStarted(1, 2000));
    m_private->send(packet);  // while the first is in flight
    for (int i = 0; i < 3; ++i) {
        auto answer = m_private->receive(3000);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->requestId, 4242);
        EXPECT_EQ(answer->errorStatus, kNoError);
        if (i == 1) {
            m_private->send(packet);  // after the answer
        }
    }
    EXPECT_EQ(panel().callCount(12), 1u);

    // A failed answer is repeated as it was, too.
    panel().state()->delay = 0ms;
    panel().state()->failing[13] = true;
    const std::string failing = m_public->encode(kPduGet, 77, {nullVarbind(scalar(13))});
    for (int i = 0; i < 2; ++i) {
        m_public->send(failing);
        EXPECT_EQ(errorOf(m_public->receive(3000)), kGenErr);
    }
    EXPECT_EQ(panel().callCount(13), 1u);

    // A new request id, or other varbinds, or another source is a new request.
    m_private->send(m_private->encode(kPduSet, 4243, {stringVarbind(scalar(12), "01")}));
    ASSERT_TRUE(m_private->receive(3000));
    m_private->send(m_private->encode(kPduSet, 4242, {stringVarbind(scalar(12), "02")}));
    ASSERT_TRUE(m_private->receive(3000));
    MiniSnmp other(m_agent->port(), "private");
    other.send(packet);
    ASSERT_TRUE(other.receive(3000));
    EXPECT_EQ(panel().callCount(12), 4u);
}

TEST_F(AgentTest, ASourceOverItsShareIsRefusedAtOnce)
{
    panel().state()->held = true;
    MiniSnmp client(m_agent->port(), "private");
    for (int i = 0; i < 4; ++i) {  // one held in the panel, three filling the source's share
        client.post(kPduGet, nullVarbind(scalar(13 + i)));
        if (i == 0) {
            ASSERT_TRUE(panel().waitForStarted(1, 2000));
        }
    }
    // Make sure all four are queued before the next arrives.
    ASSERT_EQ(errorOf(m_public->get(kSysUpTime, 2000)), kNoError);
    const auto start = Clock::now();
    EXPECT_EQ(errorOf(client.get(scalar(30), 2000)), kGenErr);
    EXPECT_EQ(errorOf(client.set(scalar(30), "01", 2000)), kResourceUnavailable);
    EXPECT_LT(msSince(start), 500);

    panel().release();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(errorOf(client.receive(3000)), kNoError);
    }
    EXPECT_EQ(panel().state()->calls.size(), 4u);
}

TEST_F(AgentTest, FullWalksEnd)
{
    // With GETNEXT, then GETBULK ten at a time: 80 readable scalars, three holiday entries, the
    // 13 health objects and the numeric twins.
    for (int repetitions : {0, 10}) {
        Oid at = kw::snmp::rootOid();
        int objects = 0;
        for (bool inside = true; inside;) {
            auto answer = repetitions == 0 ? m_public->getNext(at)
                                           : m_public->request(kPduGetBulk, {nullVarbind(at)}, 5000,
                                                               repetitions);
            ASSERT_TRUE(answer);
            ASSERT_EQ(answer->errorStatus, kNoError);
            ASSERT_FALSE(answer->varbinds.empty());
            for (const Varbind& vb : answer->varbinds) {
                inside = vb.type != kEndOfMibView && underRoot(vb.oid);
                if (!inside) {
                    break;
                }
                ASSERT_GT(kw::snmp::compareOid(vb.oid, at), 0);
                at = vb.oid;
                ASSERT_LT(++objects, 200);
            }
        }
        EXPECT_EQ(objects, 83 + 13 + kw::snmp::numericObjects().size()) << repetitions;
    }
}

TEST_F(AgentTest, StopWaitsForTheCallbackInProgressAndReturnsCleanly)
{
    panel().state()->held = true;
    m_public->post(kPduGet, nullVarbind(scalar(13)));
    MiniSnmp queued(m_agent->port(), "public");
    queued.post(kPduGet, nullVarbind(scalar(14)));
    ASSERT_TRUE(panel().waitForStarted(1, 2000));
    auto stopped = std::async(std::launch::async, [this] { return m_agent->stop(); });
    EXPECT_EQ(stopped.wait_for(200ms), std::future_status::timeout);  // the callback holds it
    panel().release();
    ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(stopped.get(), 0);
    EXPECT_EQ(panel().callCount(14), 0u);  // the queued request never reached the panel
    EXPECT_EQ(snmp_agent_wait_ready(0), SNMP_AGENT_TIMEOUT);
}

// Start-up outcomes need an agent of their own.
TEST(AgentStartTest, BusyPortIsReportedAndTheAgentCanStartAgain)
{
    const int port = freeUdpPort();
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const std::string dir = prepareAgentConfig(port);
    char arg0[] = "hostrx";
    char* argv[] = {arg0};
    auto result = std::async(std::launch::async, [&] { return main_snmp(1, argv); });
    EXPECT_EQ(snmp_agent_wait_ready(10000), SNMP_AGENT_BIND_FAILED);
    ASSERT_EQ(result.wait_for(5s), std::future_status::ready);
    EXPECT_NE(result.get(), 0);
    ::close(fd);
    std::system(("rm -rf '" + dir + "'").c_str());

    FakePanel::instance().reset();
    AgentHarness again;
    ASSERT_EQ(again.readyState(), SNMP_AGENT_READY);
    EXPECT_EQ(MiniSnmp(again.port(), "public").get(scalar(3))->varbinds[0].bytes, "03");
}

TEST(AgentStartTest, StopBeforeStartMakesMainReturnAtOnce)
{
    snmp_agent_stop();
    char arg0[] = "hostrx";
    char* argv[] = {arg0};
    auto result = std::async(std::launch::async, [&] { return main_snmp(1, argv); });
    ASSERT_EQ(result.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(result.get(), 0);
}

}  // namespace
}  // namespace kw::snmptest
