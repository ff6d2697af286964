#include "host/kwsnmpd/Options.h"

#include <string_view>

#include "host/cli/Args.h"

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
    "  --trap-sink HOST[:PORT]\n"
    "                        send notifications (SNMPv2c traps, community public) there\n"
    "                        as well; repeatable (default port 162)\n"
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

using kw::cli::parseInteger;
using kw::cli::parseRate;
using kw::cli::UsageError;

void parsePanel(const std::string& text, Options& options)
{
    constexpr std::string_view kDirect = "direct-serial:";
    std::string error;
    options.panelText = text;
    if (text.rfind(kDirect, 0) == 0) {
        auto spec =
            kw::panel::parseSerialSpec(std::string_view(text).substr(kDirect.size()), &error);
        if (!spec) throw UsageError{"--panel " + text + ": " + error};
        options.route = Options::Route::DirectSerial;
        options.directSerial = *spec;
        return;
    }
    if (text != "sim" && text.rfind("tcp:", 0) != 0 && text.rfind("serial:", 0) != 0) {
        throw UsageError{"--panel: unknown panel '" + text +
                         "' (expected sim, tcp:HOST:PORT, serial:DEV[:BAUD] or "
                         "direct-serial:DEV[:BAUD])"};
    }
    auto spec = kw::panel::parseLinkSpec(text, &error);
    if (!spec) throw UsageError{"--panel " + text + ": " + error};
    options.route = Options::Route::Link;
    options.link = *spec;
}

}  // namespace

ParseResult parseOptions(int argc, const char* const* argv)
{
    ParseResult result;
    Options& options = result.options;
    try {
        kw::cli::ArgReader args(argc, argv);
        while (args.next()) {
            const std::string& arg = args.option();
            if (arg == "--help" || arg == "-h") {
                args.noValue();
                result.action = ParseResult::Action::Help;
                return result;
            } else if (arg == "--version") {
                args.noValue();
                result.action = ParseResult::Action::Version;
                return result;
            } else if (arg == "--panel") {
                parsePanel(args.value(), options);
            } else if (arg == "--display-id") {
                options.displayId =
                    static_cast<uint8_t>(parseInteger<unsigned>(arg, args.value(), 0, 255));
            } else if (arg == "--listen") {
                options.listen = args.value();
                // One transport address; Net-SNMP would take a comma list, but the start-up
                // line and the generated configuration speak of one.
                if (options.listen.empty() ||
                    options.listen.find_first_of(", \t\n") != std::string::npos) {
                    throw UsageError{"--listen: expected one transport address such as " +
                                     std::string(kDefaultListen) + ", got '" + options.listen +
                                     "'"};
                }
                options.listenGiven = true;
            } else if (arg == "--config") {
                options.configDir = args.value();
                if (options.configDir->empty()) throw UsageError{"--config: missing directory"};
            } else if (arg == "--trap-sink") {
                const std::string sink = args.value();
                if (sink.empty() || sink.find_first_of(", \t\n") != std::string::npos) {
                    throw UsageError{"--trap-sink: expected HOST[:PORT], got '" + sink + "'"};
                }
                options.trapSinks.push_back(sink);
            } else if (arg == "--verbose" || arg == "-v") {
                args.noValue();
                options.verbose = true;
            } else if (arg == "--delay-ms") {
                options.faults.delay =
                    std::chrono::milliseconds(parseInteger<long>(arg, args.value(), 0, 600000));
                options.faultsGiven = true;
            } else if (arg == "--silent-rate") {
                options.faults.silentRate = parseRate(arg, args.value());
                options.faultsGiven = true;
            } else if (arg == "--nak-rate") {
                options.faults.nakRate = parseRate(arg, args.value());
                options.faultsGiven = true;
            } else if (arg == "--corrupt-rate") {
                options.faults.corruptRate = parseRate(arg, args.value());
                options.faultsGiven = true;
            } else if (arg == "--garbage-rate") {
                options.faults.garbageRate = parseRate(arg, args.value());
                options.faultsGiven = true;
            } else if (arg == "--seed") {
                options.faults.seed = parseInteger<uint32_t>(arg, args.value(), 0, UINT32_MAX);
                options.faultsGiven = true;
            } else {
                throw UsageError{"unknown option '" + arg + "' (try --help)"};
            }
        }
        if (options.faultsGiven && !(options.route == Options::Route::Link &&
                                     options.link.kind == kw::panel::LinkSpec::Kind::Sim)) {
            throw UsageError{
                "fault injection needs --panel sim (use kwpanel-sim's own options "
                "for a panel on a line)"};
        }
        if (auto problem = options.faults.validate()) throw UsageError{*problem};
    } catch (const UsageError& mistake) {
        result.action = ParseResult::Action::Error;
        result.error = mistake.what();
    }
    return result;
}

}  // namespace kw::kwsnmpd
