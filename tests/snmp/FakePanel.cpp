#include "tests/snmp/FakePanel.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

#include "snmp/AgentControl.h"
#include "snmp/ObjectTable.h"

namespace kw::snmptest {
namespace {

using kw::snmp::Access;
using kw::snmp::DisplayObject;

// `count` bytes as "01 0A FF" (missing bytes print as 00).
void printBytes(unsigned char* buf, const std::vector<uint8_t>& bytes, size_t count)
{
    std::string text;
    char two[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(two, sizeof two, i == 0 ? "%02X" : " %02X", i < bytes.size() ? bytes[i] : 0);
        text += two;
    }
    std::snprintf(reinterpret_cast<char*>(buf), 256, "%s", text.c_str());
}

}  // namespace

FakePanel& FakePanel::instance()
{
    static FakePanel panel;
    return panel;
}

void FakePanel::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state = State{};
    for (const DisplayObject& object : kw::snmp::displayObjects()) {
        const size_t size =
            std::max<size_t>({object.setBytes[0], object.setBytes[1], object.getBytes});
        m_state.rows[object.index] = std::vector<uint8_t>(size, static_cast<uint8_t>(object.index));
    }
    m_state.texts = {{4, "KW-PANEL-55"}, {5, "1.02.003"}, {8, "SN0123456789"}};
    m_state.holidays = {{1, 12, 25, 0, 0}, {2, 1, 1, 0, 0}, {3, 7, 4, 1, 2}};
    m_changed.notify_all();
}

void FakePanel::registerCallbacks()
{
    RegisterCallback_STR([](unsigned char* buf, int getset, eFuncType index, int extra) {
        return instance().serveString(buf, getset, static_cast<int>(index), extra);
    });
    RegisterCallback_HOLIDAY([](unsigned char* buf, int getset, eFuncType index, int extra) {
        return instance().serveHoliday(buf, getset, static_cast<int>(index), extra);
    });
}

size_t FakePanel::callCount(int index, bool holiday)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::count_if(m_state.calls.begin(), m_state.calls.end(), [&](const PanelCall& c) {
        return c.index == index && c.holiday == holiday;
    });
}

void FakePanel::release()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_state.held = false;
    m_changed.notify_all();
}

bool FakePanel::waitForStarted(size_t count, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                              [&] { return m_state.calls.size() >= count; });
}

void FakePanel::begin(PanelCall call)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    call.thread = std::this_thread::get_id();
    m_state.calls.push_back(call);
    m_state.maxInside = std::max(m_state.maxInside, ++m_state.inside);
    m_changed.notify_all();
    m_changed.wait(lock, [this] { return !m_state.held; });
    const auto delay = m_state.delay;
    lock.unlock();
    std::this_thread::sleep_for(delay);  // the panel's own pace, in real time
    lock.lock();
    --m_state.inside;
}

int FakePanel::serveString(unsigned char* buf, int getset, int index, int extra)
{
    const DisplayObject* object = kw::snmp::objectForIndex(index);
    if (object == nullptr) {
        return 0;
    }
    size_t setCount = object->setBytes[0];
    if (index == 73 && getset == 0) {
        setCount = extra == 6 || extra == 8 ? 3 : extra == 14 || extra == 20 ? 7 : 0;
    }
    begin(PanelCall{false, index, getset, extra, {}});
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool failing = m_state.failing[index];
    const bool setPath =
        object->access == Access::WriteOnly || (object->access == Access::ReadWrite && getset == 0);
    if (((index == 58 || index == 87) && getset != 0) || (index == 59 && getset != 1)) {
        return 0;
    }
    if (setPath) {
        if (setCount == 0 || failing) {
            return 0;
        }
        std::copy(buf, buf + setCount, m_state.rows[index].begin());
        return 1;
    }
    if (object->getBytes == 0) {
        // The text rows: the reply's characters, without a terminator of their own.
        if (!failing) {
            std::memcpy(buf, m_state.texts[index].data(), m_state.texts[index].size());
        }
    } else if (index == 59) {
        printBytes(buf, {static_cast<uint8_t>(failing ? 0 : m_state.holidays.size())}, 1);
    } else {
        printBytes(buf, failing ? std::vector<uint8_t>{} : m_state.rows[index], object->getBytes);
    }
    return failing ? 0 : 1;
}

int FakePanel::serveHoliday(unsigned char* buf, int getset, int index, int extra)
{
    begin(PanelCall{true, index, getset, extra, {}});
    std::lock_guard<std::mutex> lock(m_mutex);
    if ((index != 59 && index != 60) || getset != 1) {
        return 0;
    }
    const bool failing = m_state.failing[index];
    if (index == 59) {
        printBytes(buf, {static_cast<uint8_t>(failing ? 0 : m_state.holidays.size())}, 1);
        return failing ? 0 : 1;
    }
    const uint8_t entry = static_cast<uint8_t>(extra & 0xFF);
    if (failing || entry == 0 || entry > m_state.holidays.size()) {
        printBytes(buf, {entry}, 5);
        return 0;
    }
    const auto& value = m_state.holidays[entry - 1];
    printBytes(buf, std::vector<uint8_t>(value.begin(), value.end()), 5);
    return 1;
}

int freeUdpPort()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        throw std::runtime_error("no free UDP port");
    }
    ::close(fd);
    return ntohs(addr.sin_port);
}

std::string prepareAgentConfig(int port)
{
    char pattern[] = "/tmp/kwsnmp-agent-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (dir == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    std::ofstream(std::string(dir) + "/snmpd.conf")
        << "agentaddress udp:127.0.0.1:" << port << "\nrocommunity public 127.0.0.1\n"
        << "rwcommunity private 127.0.0.1\n";
    ::setenv("SNMPCONFPATH", dir, 1);
    ::setenv("SNMP_PERSISTENT_DIR", dir, 1);
    return dir;
}

AgentHarness::AgentHarness() : m_port(freeUdpPort()), m_dir(prepareAgentConfig(m_port))
{
    FakePanel::instance().registerCallbacks();
    m_thread = std::thread([this] {
        // The module's own argument vector; its configuration file does not exist here.
        static const char* const kArgs[] = {"hostrx", "-f", "-c",
                                            "/mtd_cmmlib/Comp_LIB/SNMP/snmpd.conf"};
        m_result = main_snmp(4, const_cast<char**>(kArgs));
    });
    m_threadId = m_thread.get_id();
    m_ready = snmp_agent_wait_ready(10000);
}

int AgentHarness::stop()
{
    if (!m_stopped) {
        m_stopped = true;
        snmp_agent_stop();
        m_thread.join();
    }
    return m_result;
}

AgentHarness::~AgentHarness()
{
    stop();
    std::system(("rm -rf '" + m_dir + "'").c_str());
}

}  // namespace kw::snmptest
