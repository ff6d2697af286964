// kwpanel-sim: the simulated display panel on a byte line (TCP, a pseudo-terminal or a
// serial device), with seeded fault injection. Runs until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "host/cli/Args.h"
#include "host/panel/PanelServer.h"

namespace {

using namespace kw::panel;
using kw::cli::parseInteger;
using kw::cli::parseRate;
using kw::cli::UsageError;

const char kUsage[] =
    "usage: kwpanel-sim [--tcp HOST:PORT] [--pty] [--serial DEV[:BAUD]] [options]\n"
    "\n"
    "Simulates a display panel on one or more byte lines until SIGINT or SIGTERM.\n"
    "\n"
    "Endpoints (at least one):\n"
    "  --tcp HOST:PORT       listen on TCP; port 0 picks a free port. Clients are served\n"
    "                        concurrently. Prints tcp:HOST:PORT with the bound port.\n"
    "  --pty                 open a pseudo-terminal and print its path on the first line\n"
    "  --serial DEV[:BAUD]   open a serial device (default 9600 baud)\n"
    "\n"
    "Options:\n"
    "  --display-id N        the panel's ID on the line dialect, 0-255 (default 1)\n"
    "  --dialect line|engine line: cmd ID N data checksum; engine: cmd N data, the\n"
    "                        module's own serial dialect (default line)\n"
    "  --delay-ms N          wait N ms before every reply\n"
    "  --silent-rate P       probability (0-1) that a command gets no reply\n"
    "  --nak-rate P          probability that a command is refused with N\n"
    "  --corrupt-rate P      probability that a reply's checksum is broken\n"
    "  --garbage-rate P      probability that junk bytes precede a reply\n"
    "  --seed N              seed of the fault generator (default 1); same seed, same faults\n"
    "  --help                show this text\n";

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
    Settings settings;
    kw::cli::ArgReader args(argc, argv);
    while (args.next()) {
        const std::string& arg = args.option();
        std::string error;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg == "--tcp") {
            auto where = parseHostPort(args.value(), true, &error);
            if (!where) throw UsageError("--tcp: " + error);
            settings.tcp = where;
        } else if (arg == "--pty") {
            args.noValue();
            settings.pty = true;
        } else if (arg == "--serial") {
            auto spec = parseSerialSpec(args.value(), &error);
            if (!spec) throw UsageError("--serial: " + error);
            settings.serial = spec;
        } else if (arg == "--display-id") {
            settings.server.displayId =
                static_cast<uint8_t>(parseInteger<unsigned>(arg, args.value(), 0, 255));
        } else if (arg == "--dialect") {
            const std::string text = args.value();
            auto dialect = parseDialect(text);
            if (!dialect)
                throw UsageError("--dialect: expected line or engine, got '" + text + "'");
            settings.server.dialect = *dialect;
        } else if (arg == "--delay-ms") {
            settings.server.faults.delay =
                std::chrono::milliseconds(parseInteger<long>(arg, args.value(), 0, 600000));
        } else if (arg == "--silent-rate") {
            settings.server.faults.silentRate = parseRate(arg, args.value());
        } else if (arg == "--nak-rate") {
            settings.server.faults.nakRate = parseRate(arg, args.value());
        } else if (arg == "--corrupt-rate") {
            settings.server.faults.corruptRate = parseRate(arg, args.value());
        } else if (arg == "--garbage-rate") {
            settings.server.faults.garbageRate = parseRate(arg, args.value());
        } else if (arg == "--seed") {
            settings.server.faults.seed = parseInteger<uint32_t>(arg, args.value(), 0, UINT32_MAX);
        } else {
            throw UsageError("unknown option '" + arg + "' (try --help)");
        }
    }
    if (!settings.tcp && !settings.pty && !settings.serial)
        throw UsageError("no endpoint: give --tcp HOST:PORT, --pty or --serial DEV (try --help)");
    return settings;
}

}  // namespace

int main(int argc, char** argv)
{
    Settings settings;
    try {
        settings = parseArguments(argc, argv);
    } catch (const UsageError& mistake) {
        fail(mistake.what());
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
