// The agent library in this process, driven over UDP by the independent mini client.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <dlfcn.h>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "platform/SnmpAgent.h"
#include "snmp/AgentControl.h"
#include "snmp/ObjectTable.h"
#include "tests/snmp/AgentHarness.h"
#include "tests/snmp/FakePanel.h"
#include "tests/snmp/MiniSnmp.h"

namespace kw::snmptest {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

Oid scalar(int index)
{
    Oid oid = kw::snmp::controlOid();
    oid.push_back(static_cast<uint32_t>(index + 1));
    oid.push_back(0);
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

class AgentTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        FakePanel::instance().reset();
        m_agent = std::make_unique<AgentHarness>();
        ASSERT_EQ(m_agent->readyState(), SNMP_AGENT_READY);
        m_public = std::make_unique<MiniSnmp>(m_agent->port(), "public");
        m_private = std::make_unique<MiniSnmp>(m_agent->port(), "private");
    }
    void TearDown() override
    {
        FakePanel::instance().release();
        m_public.reset();
        m_private.reset();
        m_agent.reset();
    }

    FakePanel& panel() { return FakePanel::instance(); }

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

TEST_F(AgentTest, GetAndSetOfAOneByteRowReachTheCallbackOnTheAgentThread)
{
    panel().setBytes(3, {0x01});
    auto got = m_public->get(scalar(3));
    ASSERT_TRUE(got);
    ASSERT_EQ(got->errorStatus, kNoError);
    ASSERT_EQ(got->varbinds.size(), 1u);
    EXPECT_EQ(got->varbinds[0].type, kTagOctetString);
    EXPECT_EQ(got->varbinds[0].bytes, "01");

    auto set = m_private->set(scalar(3), "0a");
    ASSERT_TRUE(set);
    EXPECT_EQ(set->errorStatus, kNoError);
    EXPECT_EQ(panel().bytes(3), std::vector<uint8_t>{0x0A});
    EXPECT_EQ(m_public->get(scalar(3))->varbinds[0].bytes, "0A");

    const auto calls = panel().calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[1].getset, 0);
    EXPECT_EQ(calls[1].extra, 2);  // the text's length
    for (const auto& call : calls) {
        EXPECT_EQ(call.thread, m_agent->agentThread());
        EXPECT_EQ(call.index, 3);
    }
}

TEST_F(AgentTest, TimerRowCarriesFifteenBytesInEitherForm)
{
    const std::string spaced = "01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E FF";
    auto set = m_private->set(scalar(51), spaced);
    ASSERT_TRUE(set);
    EXPECT_EQ(set->errorStatus, kNoError);
    EXPECT_EQ(m_public->get(scalar(51))->varbinds[0].bytes, spaced);

    set = m_private->set(scalar(57), "0102030405060708090a0b0c0d0eff");
    ASSERT_TRUE(set);
    EXPECT_EQ(set->errorStatus, kNoError);
    EXPECT_EQ(m_public->get(scalar(57))->varbinds[0].bytes, spaced);
    EXPECT_EQ(panel().calls().back().index, 57);
}

TEST_F(AgentTest, SafetyScreenSetPassesTheTextLengthThatChoosesTheForm)
{
    for (const std::string text :
         {"010203", "01 02 03", "01020304050607", "01 02 03 04 05 06 07"}) {
        auto set = m_private->set(scalar(73), text);
        ASSERT_TRUE(set);
        EXPECT_EQ(set->errorStatus, kNoError) << text;
        EXPECT_EQ(panel().calls().back().extra, static_cast<int>(text.size()));
    }
    EXPECT_EQ(m_public->get(scalar(73))->varbinds[0].bytes, "01 02 03 04 05 06 07");
    // Five bytes is neither form: refused before the panel hears of it.
    const size_t before = panel().calls().size();
    EXPECT_EQ(m_private->set(scalar(73), "0102030405")->errorStatus, kWrongLength);
    EXPECT_EQ(panel().calls().size(), before);
}

TEST_F(AgentTest, HolidayEntriesAndTheirWalk)
{
    auto entry = m_public->get(holiday(2));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->varbinds[0].bytes, "02 01 01 00 00");
    EXPECT_EQ(panel().calls().back().extra, 2);
    EXPECT_TRUE(panel().calls().back().holiday);

    // Walking from the count row lists entries 1..count, then the next scalar.
    std::vector<Oid> seen;
    Oid at = scalar(59);
    for (int i = 0; i < 5; ++i) {
        auto next = m_public->getNext(at);
        ASSERT_TRUE(next);
        ASSERT_EQ(next->errorStatus, kNoError);
        at = next->varbinds[0].oid;
        seen.push_back(at);
    }
    EXPECT_EQ(seen[0], holiday(1));
    EXPECT_EQ(seen[2], holiday(3));
    EXPECT_EQ(seen[3], scalar(61));

    // No entries: the table is passed over.
    panel().setHolidays({});
    auto next = m_public->getNext(scalar(59));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->varbinds[0].oid, scalar(61));
}

TEST_F(AgentTest, AccessRefusals)
{
    // Read-only rows, holiday entries and missing objects are not writable.
    EXPECT_EQ(m_private->set(scalar(4), "01")->errorStatus, kNotWritable);
    EXPECT_EQ(m_private->set(scalar(59), "01")->errorStatus, kNotWritable);
    EXPECT_EQ(m_private->set(holiday(1), "01 02 03 04 05")->errorStatus, kNotWritable);
    EXPECT_EQ(m_private->set(scalar(1), "01")->errorStatus, kNotWritable);
    Oid wrongInstance = scalar(3);
    wrongInstance.back() = 1;
    EXPECT_EQ(m_private->set(wrongInstance, "01")->errorStatus, kNoCreation);
    // The read community cannot write at all.
    EXPECT_NE(m_public->set(scalar(3), "01")->errorStatus, kNoError);
    EXPECT_TRUE(panel().calls().empty());

    // Set-only rows read as noSuchInstance without reaching the panel; a walk skips them.
    for (int index : {12, 22, 33, 58, 87}) {
        auto got = m_public->get(scalar(index));
        ASSERT_TRUE(got);
        EXPECT_EQ(got->varbinds[0].type, kNoSuchInstance) << index;
    }
    EXPECT_EQ(m_public->get(scalar(2))->varbinds[0].type, kNoSuchObject);
    EXPECT_EQ(m_public->get(wrongInstance)->varbinds[0].type, kNoSuchInstance);
    EXPECT_TRUE(panel().calls().empty());
    EXPECT_EQ(m_public->getNext(scalar(11))->varbinds[0].oid, scalar(13));

    // v1 maps both.
    MiniSnmp v1(m_agent->port(), "private", 0);
    EXPECT_EQ(v1.set(scalar(4), "01")->errorStatus, kNoSuchName);
    EXPECT_EQ(v1.get(scalar(12))->errorStatus, kNoSuchName);
}

TEST_F(AgentTest, BadValuesAreRefusedBeforeThePanelIsTouched)
{
    EXPECT_EQ(m_private->request(kPduSet, {integerVarbind(scalar(3), 1)})->errorStatus, kWrongType);
    for (const std::string text : {"0G", "1", "01 ", " 01", "01  02", "01 0203", "0x01"}) {
        EXPECT_EQ(m_private->set(scalar(11), text)->errorStatus, kWrongValue) << text;
    }
    EXPECT_EQ(m_private->set(scalar(3), "")->errorStatus, kWrongLength);
    EXPECT_EQ(m_private->set(scalar(3), "01 02")->errorStatus, kWrongLength);
    EXPECT_EQ(m_private->set(scalar(51), "01 02")->errorStatus, kWrongLength);
    EXPECT_TRUE(panel().calls().empty());
    MiniSnmp v1(m_agent->port(), "private", 0);
    EXPECT_EQ(v1.set(scalar(3), "zz")->errorStatus, kBadValue);
}

TEST_F(AgentTest, PanelFailureIsAnErrorNeverAValue)
{
    panel().setFailing(13, true);
    auto got = m_public->get(scalar(13));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->errorStatus, kGenErr);
    EXPECT_EQ(got->errorIndex, 1);
    auto set = m_private->set(scalar(13), "01");
    ASSERT_TRUE(set);
    EXPECT_EQ(set->errorStatus, kCommitFailed);
    MiniSnmp v1(m_agent->port(), "private", 0);
    EXPECT_EQ(v1.set(scalar(13), "02")->errorStatus, kGenErr);

    // A walk that meets a failing row stops with the error rather than inventing a value.
    auto next = m_public->getNext(scalar(11));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->errorStatus, kGenErr);

    // Holiday count failure: the table cannot be walked either.
    panel().setFailing(59, true);
    EXPECT_EQ(m_public->getNext(scalar(59))->errorStatus, kGenErr);
}

TEST_F(AgentTest, ASetThatFailsAfterAnEarlierPanelWriteReportsUndoFailed)
{
    panel().setFailing(17, true);
    auto set = m_private->request(
        kPduSet, {stringVarbind(scalar(16), "05"), stringVarbind(scalar(17), "06")});
    ASSERT_TRUE(set);
    EXPECT_EQ(set->errorStatus, kUndoFailed);
    EXPECT_EQ(panel().bytes(16), std::vector<uint8_t>{0x05});

    // The first one failing stops the rest.
    panel().reset();
    panel().setFailing(16, true);
    set = m_private->request(kPduSet,
                             {stringVarbind(scalar(16), "05"), stringVarbind(scalar(17), "06")});
    ASSERT_TRUE(set);
    EXPECT_EQ(set->errorStatus, kCommitFailed);
    EXPECT_EQ(set->errorIndex, 1);
    EXPECT_EQ(panel().callCount(17), 0u);
}

TEST_F(AgentTest, TextRowsEndAtTheFirstZeroByte)
{
    panel().setText(4, std::string("AB\0CD", 5));
    EXPECT_EQ(m_public->get(scalar(4))->varbinds[0].bytes, "AB");
    EXPECT_EQ(m_public->get(scalar(8))->varbinds[0].bytes, "SN0123456789");
}

TEST_F(AgentTest, SystemGroupStaysFastWhileThePanelIsSlow)
{
    panel().setDelay(1500ms);
    for (bool viaSet : {false, true}) {
        MiniSnmp slow(m_agent->port(), "private");
        if (viaSet) {
            slow.send(slow.encode(kPduSet, slow.nextRequestId(), {stringVarbind(scalar(3), "01")}));
        } else {
            slow.send(slow.encode(kPduGet, slow.nextRequestId(), {nullVarbind(scalar(3))}));
        }
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
        auto slowAnswer = slow.receive(3000);
        ASSERT_TRUE(slowAnswer);
        EXPECT_EQ(slowAnswer->errorStatus, kNoError);
    }
}

TEST_F(AgentTest, ASetBehindASlowGetHoldsNothingElseUp)
{
    panel().setDelay(800ms);
    MiniSnmp getter(m_agent->port(), "public");
    getter.send(getter.encode(kPduGet, 1, {nullVarbind(scalar(13))}));
    ASSERT_TRUE(panel().waitForStarted(1, 2000));
    MiniSnmp setter(m_agent->port(), "private");
    setter.send(setter.encode(kPduSet, 2, {stringVarbind(scalar(14), "05")}));
    std::this_thread::sleep_for(50ms);
    MiniSnmp reader(m_agent->port(), "public");
    reader.send(reader.encode(kPduGet, 3, {nullVarbind(scalar(15))}));
    std::this_thread::sleep_for(50ms);

    const auto start = Clock::now();
    auto up = m_public->get(kSysUpTime, 1000);
    ASSERT_TRUE(up);
    EXPECT_LT(msSince(start), 50);

    for (MiniSnmp* client : {&getter, &setter, &reader}) {
        auto answer = client->receive(5000);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->errorStatus, kNoError);
    }
    // The panel saw them in arrival order.
    const auto calls = panel().calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].index, 13);
    EXPECT_EQ(calls[1].index, 14);
    EXPECT_EQ(calls[2].index, 15);
}

TEST_F(AgentTest, GetWallTimeOverThePanelsOwnTime)
{
    panel().setDelay(100ms);  // a get's pacing pause
    long long total = 0;
    for (int i = 0; i < 5; ++i) {
        const auto start = Clock::now();
        ASSERT_EQ(m_public->get(scalar(3))->errorStatus, kNoError);
        total += msSince(start);
    }
    std::printf("get wall time with a 100 ms panel: %lld ms average\n", total / 5);
    EXPECT_LT(total / 5, 150);
}

TEST_F(AgentTest, RetransmissionsReachThePanelOnce)
{
    panel().setDelay(600ms);
    const std::string packet = m_private->encode(kPduSet, 4242, {stringVarbind(scalar(12), "01")});
    m_private->send(packet);
    ASSERT_TRUE(panel().waitForStarted(1, 2000));
    m_private->send(packet);  // while the first is in flight
    auto first = m_private->receive(3000);
    auto second = m_private->receive(3000);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->requestId, 4242);
    EXPECT_EQ(second->requestId, 4242);
    EXPECT_EQ(first->errorStatus, kNoError);
    EXPECT_EQ(second->errorStatus, kNoError);
    m_private->send(packet);  // after the answer
    auto third = m_private->receive(3000);
    ASSERT_TRUE(third);
    EXPECT_EQ(third->errorStatus, kNoError);
    EXPECT_EQ(panel().callCount(12), 1u);

    // A failed answer is repeated as it was, too.
    panel().setDelay(0ms);
    panel().setFailing(13, true);
    const std::string failing = m_public->encode(kPduGet, 77, {nullVarbind(scalar(13))});
    m_public->send(failing);
    EXPECT_EQ(m_public->receive(3000)->errorStatus, kGenErr);
    m_public->send(failing);
    EXPECT_EQ(m_public->receive(3000)->errorStatus, kGenErr);
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

TEST_F(AgentTest, RequestsAreServedOneAtATimeInArrivalOrder)
{
    panel().setDelay(50ms);
    std::vector<std::unique_ptr<MiniSnmp>> clients;
    for (int i = 0; i < 5; ++i) {
        clients.push_back(std::make_unique<MiniSnmp>(m_agent->port(), "public"));
        clients.back()->send(clients.back()->encode(kPduGet, 1, {nullVarbind(scalar(13 + i))}));
        std::this_thread::sleep_for(5ms);  // fixes the arrival order
    }
    for (auto& client : clients) {
        auto answer = client->receive(3000);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->errorStatus, kNoError);
    }
    const auto calls = panel().calls();
    ASSERT_EQ(calls.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(calls[i].index, 13 + i);
    }
    EXPECT_EQ(panel().maxConcurrent(), 1);
}

TEST_F(AgentTest, AFullQueueRefusesAtOnce)
{
    panel().hold();
    std::vector<std::unique_ptr<MiniSnmp>> clients;
    auto sendGet = [&](int index) {
        clients.push_back(std::make_unique<MiniSnmp>(m_agent->port(), "private"));
        clients.back()->send(clients.back()->encode(kPduGet, 1, {nullVarbind(scalar(index))}));
    };
    sendGet(13);
    ASSERT_TRUE(panel().waitForStarted(1, 2000));
    for (int i = 0; i < 8; ++i) {
        sendGet(14 + i);  // fills the queue behind the held one
    }
    // Make sure all eight are queued before the next arrives.
    ASSERT_EQ(m_public->get(kSysUpTime, 2000)->errorStatus, kNoError);
    const auto start = Clock::now();
    MiniSnmp extra(m_agent->port(), "private");
    auto refused = extra.get(scalar(30), 2000);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->errorStatus, kGenErr);
    auto refusedSet = extra.set(scalar(30), "01", 2000);
    ASSERT_TRUE(refusedSet);
    EXPECT_EQ(refusedSet->errorStatus, kResourceUnavailable);
    EXPECT_LT(msSince(start), 500);

    panel().release();
    for (auto& client : clients) {
        auto answer = client->receive(3000);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->errorStatus, kNoError);
    }
    EXPECT_EQ(panel().calls().size(), 9u);
}

TEST_F(AgentTest, FullWalksEnd)
{
    Oid at = kw::snmp::rootOid();
    int objects = 0;
    while (true) {
        auto next = m_public->getNext(at);
        ASSERT_TRUE(next);
        ASSERT_EQ(next->errorStatus, kNoError);
        const Oid& oid = next->varbinds[0].oid;
        if (oid.size() < kw::snmp::rootOid().size() ||
            !std::equal(kw::snmp::rootOid().begin(), kw::snmp::rootOid().end(), oid.begin())) {
            break;
        }
        ASSERT_GT(kw::snmp::compareOid(oid, at), 0);
        at = oid;
        ++objects;
        ASSERT_LT(objects, 200);
    }
    // 80 readable scalars and three holiday entries.
    EXPECT_EQ(objects, 83);

    // The same with GETBULK, ten at a time.
    at = kw::snmp::rootOid();
    int bulkObjects = 0;
    bool inside = true;
    while (inside) {
        auto bulk = m_public->request(kPduGetBulk, {nullVarbind(at)}, 5000, 0, 10);
        ASSERT_TRUE(bulk);
        ASSERT_EQ(bulk->errorStatus, kNoError);
        ASSERT_FALSE(bulk->varbinds.empty());
        for (const Varbind& vb : bulk->varbinds) {
            if (vb.type == kEndOfMibView || vb.oid.size() < kw::snmp::rootOid().size() ||
                !std::equal(kw::snmp::rootOid().begin(), kw::snmp::rootOid().end(),
                            vb.oid.begin())) {
                inside = false;
                break;
            }
            ++bulkObjects;
            at = vb.oid;
        }
    }
    EXPECT_EQ(bulkObjects, 83);
}

TEST_F(AgentTest, StopWaitsForTheCallbackInProgressAndReturnsCleanly)
{
    panel().hold();
    m_public->send(m_public->encode(kPduGet, 5, {nullVarbind(scalar(13))}));
    MiniSnmp queued(m_agent->port(), "public");
    queued.send(queued.encode(kPduGet, 6, {nullVarbind(scalar(14))}));
    ASSERT_TRUE(panel().waitForStarted(1, 2000));
    auto stopped = std::async(std::launch::async, [this] { return m_agent->stop(); });
    EXPECT_EQ(stopped.wait_for(200ms), std::future_status::timeout);  // the callback holds it
    panel().release();
    ASSERT_EQ(stopped.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(stopped.get(), 0);
    // The queued request never reached the panel.
    EXPECT_EQ(panel().callCount(14), 0u);
    EXPECT_EQ(snmp_agent_wait_ready(0), SNMP_AGENT_TIMEOUT);
}

// Start-up outcomes need an agent of their own.
TEST(AgentStartTest, BusyPortIsReportedAndMainReturns)
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

    // The same process can start the agent again once the port is free.
    FakePanel::instance().reset();
    AgentHarness again;
    ASSERT_EQ(again.readyState(), SNMP_AGENT_READY);
    MiniSnmp client(again.port(), "public");
    EXPECT_EQ(client.get(scalar(3))->varbinds[0].bytes, "03");
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
