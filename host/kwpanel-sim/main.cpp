// kwpanel-sim: the simulated display panel on a byte line (TCP, a pseudo-terminal or a
// serial device), with seeded fault injection. Runs until SIGINT or SIGTERM.
#include <signal.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "host/panel/PanelServer.h"

namespace {

using namespace kw::panel;

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

template <typename T>
T parseInteger(std::string_view option, std::string_view text, T lo, T hi)
{
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi)
        fail(std::string(option) + ": expected a whole number from " + std::to_string(lo) + " to " +
             std::to_string(hi) + ", got '" + std::string(text) + "'");
    return value;
}

double parseRate(std::string_view option, const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !std::isfinite(value) || value < 0 ||
        value > 1)
        fail(std::string(option) + ": expected a probability from 0 to 1, got '" + text + "'");
    return value;
}

struct Settings {
    std::optional<HostPort> tcp;
    bool pty = false;
    std::optional<SerialSpec> serial;
    PanelServer::Options server;
};

Settings parseArguments(int argc, char** argv)
{
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> inlineValue;
        if (const size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.resize(eq);
        }
        auto value = [&]() -> std::string {
            if (inlineValue) return *inlineValue;
            if (i + 1 >= argc) fail(arg + ": missing value");
            return argv[++i];
        };
        auto noValue = [&] {
            if (inlineValue) fail(arg + ": takes no value");
        };
        std::string error;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (arg == "--tcp") {
            auto where = parseHostPort(value(), true, &error);
            if (!where) fail("--tcp: " + error);
            settings.tcp = where;
        } else if (arg == "--pty") {
            noValue();
            settings.pty = true;
        } else if (arg == "--serial") {
            auto spec = parseSerialSpec(value(), &error);
            if (!spec) fail("--serial: " + error);
            settings.serial = spec;
        } else if (arg == "--display-id") {
            settings.server.displayId =
                static_cast<uint8_t>(parseInteger<unsigned>(arg, value(), 0, 255));
        } else if (arg == "--dialect") {
            const std::string text = value();
            auto dialect = parseDialect(text);
            if (!dialect) fail("--dialect: expected line or engine, got '" + text + "'");
            settings.server.dialect = *dialect;
        } else if (arg == "--delay-ms") {
            settings.server.faults.delay =
                std::chrono::milliseconds(parseInteger<long>(arg, value(), 0, 600000));
        } else if (arg == "--silent-rate") {
            settings.server.faults.silentRate = parseRate(arg, value());
        } else if (arg == "--nak-rate") {
            settings.server.faults.nakRate = parseRate(arg, value());
        } else if (arg == "--corrupt-rate") {
            settings.server.faults.corruptRate = parseRate(arg, value());
        } else if (arg == "--garbage-rate") {
            settings.server.faults.garbageRate = parseRate(arg, value());
        } else if (arg == "--seed") {
            settings.server.faults.seed = parseInteger<uint32_t>(arg, value(), 0, UINT32_MAX);
        } else {
            fail("unknown option '" + arg + "' (try --help)");
        }
    }
    if (!settings.tcp && !settings.pty && !settings.serial)
        fail("no endpoint: give --tcp HOST:PORT, --pty or --serial DEV (try --help)");
    return settings;
}

}  // namespace

int main(int argc, char** argv)
{
    const Settings settings = parseArguments(argc, argv);

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
