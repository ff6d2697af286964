#include "tests/snmp/AgentHarness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <stdexcept>

#include "platform/SnmpAgent.h"
#include "snmp/AgentControl.h"
#include "tests/snmp/FakePanel.h"

namespace kw::snmptest {

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

std::string prepareAgentConfig(int port, const std::string& extraLines)
{
    char pattern[] = "/tmp/kwsnmp-agent-XXXXXX";
    const char* dir = ::mkdtemp(pattern);
    if (dir == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    std::ofstream conf(std::string(dir) + "/snmpd.conf");
    conf << "agentaddress udp:127.0.0.1:" << port << "\n"
         << "rocommunity public 127.0.0.1\n"
         << "rwcommunity private 127.0.0.1\n"
         << "createUser kwuser SHA kwauthpass1 AES kwprivpass1\n"
         << "rwuser kwuser priv\n"
         << "syslocation test bench\n"
         << extraLines;
    conf.close();
    ::setenv("SNMPCONFPATH", dir, 1);
    ::setenv("SNMP_PERSISTENT_DIR", dir, 1);
    return dir;
}

AgentHarness::AgentHarness(const std::string& extraConfig)
{
    m_port = freeUdpPort();
    m_dir = prepareAgentConfig(m_port, extraConfig);
    FakePanel::instance().registerCallbacks();
    m_thread = std::thread([this] {
        // The module's own argument vector; its configuration file does not exist here.
        static const char* const kArgs[] = {"hostrx", "-f", "-c",
                                            "/mtd_cmmlib/Comp_LIB/SNMP/snmpd.conf"};
        char* argv[4];
        for (int i = 0; i < 4; ++i) {
            argv[i] = const_cast<char*>(kArgs[i]);
        }
        m_result = main_snmp(4, argv);
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
