// The agent library with the fake panel behind it, as a program for end-to-end tests.
//
//   fake_panel_agent [--port P] [--delay-ms N] [--fail INDEX]... [--calls FILE]
//
// Prints "READY <port>" (or "FAILED <code>") once the agent is up, serves until SIGTERM or
// SIGINT, then writes one line per panel call to FILE: "<s|h> <index> <getset> <extra>".
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

#include "platform/SnmpAgent.h"
#include "snmp/AgentControl.h"
#include "tests/snmp/AgentHarness.h"
#include "tests/snmp/FakePanel.h"

namespace {

extern "C" void onSignal(int)
{
    snmp_agent_stop();
}

}  // namespace

int main(int argc, char** argv)
{
    using kw::snmptest::FakePanel;
    int port = 0;
    std::string callsFile;
    FakePanel& panel = FakePanel::instance();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--port" && value != nullptr) {
            port = std::atoi(value);
            ++i;
        } else if (arg == "--delay-ms" && value != nullptr) {
            panel.setDelay(std::chrono::milliseconds(std::atoi(value)));
            ++i;
        } else if (arg == "--fail" && value != nullptr) {
            panel.setFailing(std::atoi(value), true);
            ++i;
        } else if (arg == "--calls" && value != nullptr) {
            callsFile = value;
            ++i;
        } else {
            std::fprintf(stderr,
                         "usage: %s [--port P] [--delay-ms N] [--fail INDEX]... "
                         "[--calls FILE]\n",
                         argv[0]);
            return 2;
        }
    }
    if (port == 0) {
        port = kw::snmptest::freeUdpPort();
    }
    const std::string dir = kw::snmptest::prepareAgentConfig(port);

    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    panel.registerCallbacks();
    std::thread reporter([port] {
        const int state = snmp_agent_wait_ready(15000);
        if (state == SNMP_AGENT_READY) {
            std::printf("READY %d\n", port);
        } else {
            std::printf("FAILED %d\n", state);
        }
        std::fflush(stdout);
    });
    static const char* const kArgs[] = {"hostrx", "-f", "-c",
                                        "/mtd_cmmlib/Comp_LIB/SNMP/snmpd.conf"};
    char* args[4];
    for (int i = 0; i < 4; ++i) {
        args[i] = const_cast<char*>(kArgs[i]);
    }
    const int result = main_snmp(4, args);
    reporter.join();

    if (!callsFile.empty()) {
        std::ofstream out(callsFile);
        for (const auto& call : panel.calls()) {
            out << (call.holiday ? 'h' : 's') << ' ' << call.index << ' ' << call.getset << ' '
                << call.extra << '\n';
        }
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    return result;
}
