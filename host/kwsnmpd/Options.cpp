#include "host/kwsnmpd/Options.h"

#include <getopt.h>

#include <string_view>
#include <vector>

#include "host/panel/FaultOptions.h"

namespace kw::kwsnmpd {

const char kUsage[] =
    "usage: kwsnmpd [options]\n"
    "\n"
    "Runs the display's SNMP management module with its host framework, the panel's protocol\n"
    "service and a panel, until SIGINT or SIGTERM.\n"
    "\n"
    "Options:\n"
    "  -p, --panel=WHERE     the panel (default sim):\n"
    "                          sim                    the simulated panel in this process\n"
    "                          tcp:HOST:PORT          a panel line over TCP (a serial-to-IP\n"
    "                                                 converter, or kwpanel-sim --tcp)\n"
    "                          serial:DEV[:BAUD]      a panel line on a serial device\n"
    "                          direct-serial:DEV[:BAUD]\n"
    "                                                 the module's own serial transport,\n"
    "                                                 engine frames (kwpanel-sim --dialect\n"
    "                                                 engine)\n"
    "  -i, --display-id=N    the display's own RIX ID, 0-255 (default 1)\n"
    "  -l, --listen=ADDR     Net-SNMP transport address to serve on\n"
    "                        (default udp:127.0.0.1:1161)\n"
    "      --agentx[=ADDRESS]\n"
    "                        serve the display MIB as an AgentX subagent of the master\n"
    "                        agent at ADDRESS (default /var/agentx/master) instead of\n"
    "                        listening itself\n"
    "  -c, --config=DIR      use DIR/snmpd.conf (agentaddress, communities, users, views)\n"
    "                        instead of the generated configuration\n"
    "      --max-varbinds=N  display objects one request may name, 1-4096 (default 64);\n"
    "                        a request with more is answered tooBig\n"
    "      --rocommunity=COMMUNITY[,SOURCE]\n"
    "      --rwcommunity=COMMUNITY[,SOURCE]\n"
    "                        grant read (ro) or read-write (rw) access to COMMUNITY from\n"
    "                        SOURCE, a host or network such as 10.0.0.0/8 (default: any\n"
    "                        source for ro, 127.0.0.1 for rw); repeatable; replaces the\n"
    "                        default communities\n"
    "      --trap-sink=HOST[:PORT]\n"
    "                        send notifications (SNMPv2c traps, community public) there\n"
    "                        as well; repeatable (default port 162)\n"
    "  -v, --verbose         trace every panel command on stderr\n"
    "  -h, --help            show this text\n"
    "  -V, --version         show the version\n"
    "\n"
    "Fault injection, with --panel sim only:\n"
    "      --delay-ms=N      wait N ms before every reply\n"
    "      --silent-rate=P   probability (0-1) that a command gets no reply\n"
    "      --nak-rate=P      probability that a command is refused with N\n"
    "      --corrupt-rate=P  probability that a reply's checksum is broken\n"
    "      --garbage-rate=P  probability that junk bytes precede a reply\n"
    "      --seed=N          seed of the fault generator (default 1)\n"
    "\n"
    "Without --config or communities the agent answers SNMPv1 and v2c with the communities\n"
    "public (read, any source) and private (read-write, from 127.0.0.1 and ::1 only).\n"
    "Listening beyond loopback without --config needs --rocommunity or --rwcommunity.\n"
    "SIGHUP re-reads the configuration.\n";

namespace {

// Long-only options of kwsnmpd's own; the fault options take 0x1000 and up.
enum : int {
    kOptMaxVarbinds = 0x800,
    kOptRoCommunity,
    kOptRwCommunity,
    kOptAgentx,
    kOptTrapSink,
};

// A mistake in an option's value: one line, without the program name.
struct UsageError {
    std::string text;
};

void parsePanel(const std::string& text, Options& options)
{
    constexpr std::string_view kDirect = "direct-serial:";
    std::string error;
    options.panelText = text;
    if (text.rfind(kDirect, 0) == 0) {
        auto spec =
            kw::panel::parseSerialSpec(std::string_view(text).substr(kDirect.size()), &error);
        if (!spec) throw UsageError{"--panel=" + text + ": " + error};
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
    if (!spec) throw UsageError{"--panel=" + text + ": " + error};
    options.route = Options::Route::Link;
    options.link = *spec;
}

}  // namespace

ParseResult parseOptions(int argc, const char* const* argv)
{
    std::vector<option> table = {
        {"panel", required_argument, nullptr, 'p'},
        {"display-id", required_argument, nullptr, 'i'},
        {"listen", required_argument, nullptr, 'l'},
        {"config", required_argument, nullptr, 'c'},
        {"verbose", no_argument, nullptr, 'v'},
        {"agentx", optional_argument, nullptr, kOptAgentx},
        {"max-varbinds", required_argument, nullptr, kOptMaxVarbinds},
        {"trap-sink", required_argument, nullptr, kOptTrapSink},
        {"rocommunity", required_argument, nullptr, kOptRoCommunity},
        {"rwcommunity", required_argument, nullptr, kOptRwCommunity},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
    };
    kw::panel::appendFaultOptions(table);
    table.push_back({nullptr, 0, nullptr, 0});

    // getopt reports its own mistakes prefixed with argv[0]: the program's name, not its path.
    std::vector<char*> args;
    std::string name = "kwsnmpd";
    args.push_back(name.data());
    for (int i = 1; i < argc; ++i) args.push_back(const_cast<char*>(argv[i]));
    args.push_back(nullptr);
    const int count = static_cast<int>(args.size()) - 1;

    ParseResult result;
    Options& options = result.options;
    optind = 0;  // a fresh scan, also of GNU getopt's own state
    opterr = 1;
    try {
        int id;
        while ((id = getopt_long(count, args.data(), "p:i:l:c:vhV", table.data(), nullptr)) != -1) {
            std::string error;
            long long number = 0;
            switch (id) {
                case 'h':
                    result.action = ParseResult::Action::Help;
                    return result;
                case 'V':
                    result.action = ParseResult::Action::Version;
                    return result;
                case 'p':
                    parsePanel(optarg, options);
                    break;
                case 'i':
                    if (!kw::panel::parseWholeNumber("display-id", optarg, 0, 255, &number, &error))
                        throw UsageError{error};
                    options.displayId = static_cast<uint8_t>(number);
                    break;
                case 'l':
                    options.listen = optarg;
                    // One transport address; Net-SNMP would take a comma list, but the start-up
                    // line and the generated configuration speak of one.
                    if (options.listen.empty() ||
                        options.listen.find_first_of(", \t\n") != std::string::npos) {
                        throw UsageError{"--listen: expected one transport address such as " +
                                         std::string(kDefaultListen) + ", got '" + options.listen +
                                         "'"};
                    }
                    options.listenGiven = true;
                    break;
                case 'c':
                    options.configDir = optarg;
                    if (options.configDir->empty()) throw UsageError{"--config: missing directory"};
                    break;
                case 'v':
                    options.verbose = true;
                    break;
                case kOptTrapSink: {
                    const std::string sink = optarg;
                    if (sink.empty() || sink.find_first_of(", \t\n\"'\\#") != std::string::npos)
                        throw UsageError{"--trap-sink: expected HOST[:PORT], got '" + sink + "'"};
                    options.trapSinks.push_back(sink);
                    break;
                }
                case kOptAgentx:
                    // The address may also come as the next word, as Net-SNMP's -x takes it.
                    if (optarg == nullptr && optind < count && args[optind][0] != '-')
                        optarg = args[optind++];
                    options.agentx = optarg != nullptr ? optarg : "";
                    break;
                case kOptMaxVarbinds:
                    if (!kw::panel::parseWholeNumber("max-varbinds", optarg, 1, 4096, &number,
                                                     &error))
                        throw UsageError{error};
                    options.maxVarbinds = static_cast<int>(number);
                    break;
                case kOptRoCommunity:
                case kOptRwCommunity: {
                    auto community = parseCommunity(id == kOptRwCommunity, optarg, &error);
                    if (!community) throw UsageError{error};
                    options.communities.push_back(*community);
                    break;
                }
                case '?':  // getopt has said what is wrong
                    throw UsageError{};
                default:
                    if (!kw::panel::applyFaultOption(id, optarg, options.faults, &error))
                        throw UsageError{error};
                    options.faultsGiven = true;
                    break;
            }
        }
        if (optind < count)
            throw UsageError{"unexpected argument '" + std::string(args[optind]) + "'"};
        if (options.faultsGiven && !(options.route == Options::Route::Link &&
                                     options.link.kind == kw::panel::LinkSpec::Kind::Sim)) {
            throw UsageError{
                "fault injection needs --panel sim (use kwpanel-sim's own options "
                "for a panel on a line)"};
        }
        if (auto problem = options.faults.validate()) throw UsageError{*problem};
        if (options.agentx && options.listenGiven) {
            throw UsageError{"--agentx: a subagent does not listen; drop --listen"};
        }
        if (auto problem =
                checkExposure(options.listen, options.configDir.has_value(), options.communities))
            throw UsageError{*problem};
    } catch (const UsageError& mistake) {
        result.action = ParseResult::Action::Error;
        result.error = mistake.text;
    }
    return result;
}

}  // namespace kw::kwsnmpd
