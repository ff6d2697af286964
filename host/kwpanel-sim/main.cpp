// kwpanel-sim: the simulated display panel on a byte line (TCP, a pseudo-terminal or a
// serial device), with seeded fault injection. Runs until SIGINT or SIGTERM.
#include <getopt.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/panel/FaultOptions.h"
#include "host/panel/PanelServer.h"

namespace {

using namespace kw::panel;
// A mistake on the command line: one line, without the program name; empty when getopt has
// reported it already.
struct UsageError {
    std::string text;
};

const char kUsage[] =
    "usage: kwpanel-sim [-t HOST:PORT] [-p] [-s DEV[:BAUD]] [options]\n"
    "\n"
    "Simulates a display panel on one or more byte lines until SIGINT or SIGTERM.\n"
    "\n"
    "Endpoints (at least one):\n"
    "  -t, --tcp=HOST:PORT   listen on TCP; port 0 picks a free port. Clients are served\n"
    "                        concurrently. Prints tcp:HOST:PORT with the bound port.\n"
    "  -p, --pty             open a pseudo-terminal and print its path on the first line\n"
    "  -s, --serial=DEV[:BAUD]\n"
    "                        open a serial device (default 9600 baud)\n"
    "\n"
    "Options:\n"
    "  -i, --display-id=N    the panel's ID on the line dialect, 0-255 (default 1)\n"
    "  -d, --dialect=line|engine\n"
    "                        line: cmd ID N data checksum; engine: cmd N data, the\n"
    "                        module's own serial dialect (default line)\n"
    "      --delay-ms=N      wait N ms before every reply\n"
    "      --silent-rate=P   probability (0-1) that a command gets no reply\n"
    "      --nak-rate=P      probability that a command is refused with N\n"
    "      --corrupt-rate=P  probability that a reply's checksum is broken\n"
    "      --garbage-rate=P  probability that junk bytes precede a reply\n"
    "      --seed=N          seed of the fault generator (default 1); same seed, same faults\n"
    "  -h, --help            show this text\n";

[[noreturn]] void fail(const std::string& message, int code = 2)
{
    std::fprintf(stderr, "kwpanel-sim: %s\n", message.c_str());
    std::exit(code);
}

struct Settings {
    std::optional<HostPort> tcp;
    bool pty = false;
    std::optional<SerialSpec> serial;
    PanelServer::Options server;
};

// Throws UsageError on a mistake.
Settings parseArguments(int argc, char** argv)
{
    std::vector<option> table = {
        {"tcp", required_argument, nullptr, 't'},
        {"pty", no_argument, nullptr, 'p'},
        {"serial", required_argument, nullptr, 's'},
        {"display-id", required_argument, nullptr, 'i'},
        {"dialect", required_argument, nullptr, 'd'},
        {"help", no_argument, nullptr, 'h'},
    };
    appendFaultOptions(table);
    table.push_back({nullptr, 0, nullptr, 0});
    // getopt's own messages name the program, not its path.
    static char name[] = "kwpanel-sim";
    argv[0] = name;

    Settings settings;
    int id;
    while ((id = getopt_long(argc, argv, "t:ps:i:d:h", table.data(), nullptr)) != -1) {
        std::string error;
        long long number = 0;
        switch (id) {
            case 'h':
                std::fputs(kUsage, stdout);
                std::exit(0);
            case 't': {
                auto where = parseHostPort(optarg, true, &error);
                if (!where) throw UsageError{"--tcp: " + error};
                settings.tcp = where;
                break;
            }
            case 'p':
                settings.pty = true;
                break;
            case 's': {
                auto spec = parseSerialSpec(optarg, &error);
                if (!spec) throw UsageError{"--serial: " + error};
                settings.serial = spec;
                break;
            }
            case 'i':
                if (!parseWholeNumber("display-id", optarg, 0, 255, &number, &error))
                    throw UsageError{error};
                settings.server.displayId = static_cast<uint8_t>(number);
                break;
            case 'd': {
                auto dialect = parseDialect(optarg);
                if (!dialect)
                    throw UsageError{std::string("--dialect: expected line or engine, got '") +
                                     optarg + "'"};
                settings.server.dialect = *dialect;
                break;
            }
            case '?':
                throw UsageError{};
            default:
                if (!applyFaultOption(id, optarg, settings.server.faults, &error))
                    throw UsageError{error};
                break;
        }
    }
    if (optind < argc) throw UsageError{std::string("unexpected argument '") + argv[optind] + "'"};
    if (!settings.tcp && !settings.pty && !settings.serial)
        throw UsageError{"no endpoint: give --tcp HOST:PORT, --pty or --serial DEV (try --help)"};
    return settings;
}

}  // namespace

int main(int argc, char** argv)
{
    Settings settings;
    try {
        settings = parseArguments(argc, argv);
    } catch (const UsageError& mistake) {
        if (mistake.text.empty()) return 2;
        fail(mistake.text);
    }

    // Every thread inherits this mask, so only sigwait below sees the stop signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    PanelServer server(std::make_shared<PanelModel>(), settings.server);
    std::string error;
    // The pty path is the first line of output, whatever else is opened.
    if (settings.pty) {
        auto path = server.openPty(&error);
        if (!path) fail(error, 1);
        std::printf("%s\n", path->c_str());
    }
    if (settings.serial && !server.openSerial(*settings.serial, &error)) fail(error, 1);
    if (settings.tcp) {
        if (!server.listenTcp(*settings.tcp, &error)) fail(error, 1);
        std::printf("tcp:%s\n", formatHostPort({settings.tcp->host, server.tcpPort()}).c_str());
    }
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.stop();
    return 0;
}
