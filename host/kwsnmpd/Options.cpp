#include "host/kwsnmpd/Options.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace kw::kwsnmpd {

const char kUsage[] =
    "usage: kwsnmpd [options]\n"
    "\n"
    "Runs the display's SNMP management module with its host framework, the panel's protocol\n"
    "service and a panel, until SIGINT or SIGTERM.\n"
    "\n"
    "Options:\n"
    "  --panel WHERE         the panel (default sim):\n"
    "                          sim                    the simulated panel in this process\n"
    "                          tcp:HOST:PORT          a panel line over TCP (a serial-to-IP\n"
    "                                                 converter, or kwpanel-sim --tcp)\n"
    "                          serial:DEV[:BAUD]      a panel line on a serial device\n"
    "                          direct-serial:DEV[:BAUD]\n"
    "                                                 the module's own serial transport,\n"
    "                                                 engine frames (kwpanel-sim --dialect\n"
    "                                                 engine)\n"
    "  --display-id N        the display's own RIX ID, 0-255 (default 1)\n"
    "  --listen ADDR         Net-SNMP transport address to serve on\n"
    "                        (default udp:127.0.0.1:1161)\n"
    "  --config DIR          use DIR/snmpd.conf (agentaddress, communities, users, views)\n"
    "                        instead of the generated configuration\n"
    "  --verbose             trace every panel command on stderr\n"
    "  --help                show this text\n"
    "  --version             show the version\n"
    "\n"
    "Fault injection, with --panel sim only:\n"
    "  --delay-ms N          wait N ms before every reply\n"
    "  --silent-rate P       probability (0-1) that a command gets no reply\n"
    "  --nak-rate P          probability that a command is refused with N\n"
    "  --corrupt-rate P      probability that a reply's checksum is broken\n"
    "  --garbage-rate P      probability that junk bytes precede a reply\n"
    "  --seed N              seed of the fault generator (default 1)\n"
    "\n"
    "Without --config the agent answers SNMPv1 and v2c with the communities public (read)\n"
    "and private (read-write).\n";

namespace {

struct Failure {
    std::string message;
};

template <typename T>
T parseInteger(std::string_view option, std::string_view text, T lo, T hi)
{
    T value{};
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < lo || value > hi) {
        throw Failure{std::string(option) + ": expected a whole number from " + std::to_string(lo) +
                      " to " + std::to_string(hi) + ", got '" + std::string(text) + "'"};
    }
    return value;
}

double parseRate(std::string_view option, const std::string& text)
{
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !std::isfinite(value) || value < 0 ||
        value > 1) {
        throw Failure{std::string(option) + ": expected a probability from 0 to 1, got '" + text +
                      "'"};
    }
    return value;
}

void parsePanel(const std::string& text, Options& options)
{
    constexpr std::string_view kDirect = "direct-serial:";
    std::string error;
    options.panelText = text;
    if (text.rfind(kDirect, 0) == 0) {
        auto spec =
            kw::panel::parseSerialSpec(std::string_view(text).substr(kDirect.size()), &error);
        if (!spec) throw Failure{"--panel " + text + ": " + error};
        options.route = Options::Route::DirectSerial;
        options.directSerial = *spec;
        return;
    }
    if (text != "sim" && text.rfind("tcp:", 0) != 0 && text.rfind("serial:", 0) != 0) {
        throw Failure{"--panel: unknown panel '" + text +
                      "' (expected sim, tcp:HOST:PORT, serial:DEV[:BAUD] or "
                      "direct-serial:DEV[:BAUD])"};
    }
    auto spec = kw::panel::parseLinkSpec(text, &error);
    if (!spec) throw Failure{"--panel " + text + ": " + error};
    options.route = Options::Route::Link;
    options.link = *spec;
}

}  // namespace

ParseResult parseOptions(int argc, const char* const* argv)
{
    ParseResult result;
    Options& options = result.options;
    try {
        for (int i = 1; i < argc; ++i) {
            std::string arg = argv[i];
            std::optional<std::string> inlineValue;
            if (const size_t eq = arg.find('=');
                arg.rfind("--", 0) == 0 && eq != std::string::npos) {
                inlineValue = arg.substr(eq + 1);
                arg.resize(eq);
            }
            auto value = [&]() -> std::string {
                if (inlineValue) return *inlineValue;
                if (i + 1 >= argc) throw Failure{arg + ": missing value"};
                return argv[++i];
            };
            auto noValue = [&] {
                if (inlineValue) throw Failure{arg + ": takes no value"};
            };

            if (arg == "--help" || arg == "-h") {
                noValue();
                result.action = ParseResult::Action::Help;
                return result;
            } else if (arg == "--version") {
                noValue();
                result.action = ParseResult::Action::Version;
                return result;
            } else if (arg == "--panel") {
                parsePanel(value(), options);
            } else if (arg == "--display-id") {
                options.displayId =
                    static_cast<uint8_t>(parseInteger<unsigned>(arg, value(), 0, 255));
            } else if (arg == "--listen") {
                options.listen = value();
                // One transport address; Net-SNMP would take a comma list, but the start-up
                // line and the generated configuration speak of one.
                if (options.listen.empty() ||
                    options.listen.find_first_of(", \t\n") != std::string::npos) {
                    throw Failure{"--listen: expected one transport address such as " +
                                  std::string(kDefaultListen) + ", got '" + options.listen + "'"};
                }
                options.listenGiven = true;
            } else if (arg == "--config") {
                options.configDir = value();
                if (options.configDir->empty()) throw Failure{"--config: missing directory"};
            } else if (arg == "--verbose" || arg == "-v") {
                noValue();
                options.verbose = true;
            } else if (arg == "--delay-ms") {
                options.faults.delay =
                    std::chrono::milliseconds(parseInteger<long>(arg, value(), 0, 600000));
                options.faultsGiven = true;
            } else if (arg == "--silent-rate") {
                options.faults.silentRate = parseRate(arg, value());
                options.faultsGiven = true;
            } else if (arg == "--nak-rate") {
                options.faults.nakRate = parseRate(arg, value());
                options.faultsGiven = true;
            } else if (arg == "--corrupt-rate") {
                options.faults.corruptRate = parseRate(arg, value());
                options.faultsGiven = true;
            } else if (arg == "--garbage-rate") {
                options.faults.garbageRate = parseRate(arg, value());
                options.faultsGiven = true;
            } else if (arg == "--seed") {
                options.faults.seed = parseInteger<uint32_t>(arg, value(), 0, UINT32_MAX);
                options.faultsGiven = true;
            } else {
                throw Failure{"unknown option '" + arg + "' (try --help)"};
            }
        }
        if (options.faultsGiven && !(options.route == Options::Route::Link &&
                                     options.link.kind == kw::panel::LinkSpec::Kind::Sim)) {
            throw Failure{
                "fault injection needs --panel sim (use kwpanel-sim's own options "
                "for a panel on a line)"};
        }
        if (auto problem = options.faults.validate()) throw Failure{*problem};
    } catch (const Failure& failure) {
        result.action = ParseResult::Action::Error;
        result.error = failure.message;
    }
    return result;
}

}  // namespace kw::kwsnmpd
