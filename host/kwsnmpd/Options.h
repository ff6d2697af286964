#pragma once
// kwsnmpd's command line.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/kwsnmpd/Communities.h"
#include "host/panel/Faults.h"
#include "host/panel/Io.h"
#include "host/panel/PanelLink.h"

namespace kw::kwsnmpd {

constexpr const char* kDefaultListen = "udp:127.0.0.1:1161";

struct Options {
    enum class Route {
        Link,          // through the protocol service and a panel link (sim, tcp, serial)
        DirectSerial,  // the module's own serial transport, engine frames on the port
    };

    Route route = Route::Link;
    std::string panelText = "sim";
    kw::panel::LinkSpec link;            // Route::Link
    kw::panel::SerialSpec directSerial;  // Route::DirectSerial
    kw::panel::FaultConfig faults;       // sim only
    bool faultsGiven = false;
    uint8_t displayId = 1;
    std::string listen = kDefaultListen;
    bool listenGiven = false;
    std::optional<std::string> configDir;
    int maxVarbinds = 64;  // display varbinds one PDU may carry
    std::vector<Community> communities;  // --rocommunity/--rwcommunity, in order
    std::vector<std::string> trapSinks;  // HOST[:PORT], each a trap2sink line
    bool verbose = false;
    std::optional<std::string> agentx;  // --agentx: the master's socket ("" for the default)
};

struct ParseResult {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    Options options;
    // Action::Error: one line, without the program name; empty when getopt has reported it.
    std::string error;
};

ParseResult parseOptions(int argc, const char* const* argv);

extern const char kUsage[];

}  // namespace kw::kwsnmpd
