#pragma once
// A kwsnmpd with its panel: the simulated panel in the process, or kwpanel-sim over TCP.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "E2eSupport.h"

namespace kw::e2e {

enum class PanelKind { InProcess, TcpSim };

inline std::string panelName(const ::testing::TestParamInfo<PanelKind>& info)
{
    return info.param == PanelKind::InProcess ? "InProcessPanel" : "KwpanelSimOverTcp";
}

struct Rig {
    std::unique_ptr<PanelSim> sim;
    std::unique_ptr<Agent> agent;
    bool ok() const { return agent && agent->ok(); }
};

// `faults` are fault-injection options, given to kwsnmpd for the in-process panel and to
// kwpanel-sim for the TCP one.
inline Rig startWith(PanelKind kind, const std::vector<std::string>& faults = {},
                     std::vector<std::string> extra = {})
{
    Rig rig;
    std::vector<std::string> args;
    if (kind == PanelKind::InProcess) {
        args = {"--panel", "sim"};
        args.insert(args.end(), faults.begin(), faults.end());
    } else {
        rig.sim = std::make_unique<PanelSim>(PanelSim::Endpoint::Tcp, faults);
        if (!rig.sim->ok()) return rig;
        args = {"--panel", "tcp:127.0.0.1:" + std::to_string(rig.sim->port())};
    }
    args.insert(args.end(), extra.begin(), extra.end());
    rig.agent = std::make_unique<Agent>(args);
    return rig;
}

}  // namespace kw::e2e
