#pragma once
// The panel's end of one line: command bytes in, reply bytes out. It frames the commands,
// lets the model answer them and applies the injected faults. It does no I/O and no waiting;
// the caller sends each output after its delay.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "host/panel/Codec.h"
#include "host/panel/Faults.h"
#include "host/panel/PanelModel.h"

namespace kw::panel {

class PanelResponder {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    struct Options {
        Dialect dialect = Dialect::Line;
        // The panel's ID on a line-dialect bus; commands for other IDs get no answer. Empty:
        // answer every ID, with the ID the command carried.
        std::optional<uint8_t> displayId = 1;
        std::chrono::milliseconds interByteTimeout{200};
    };

    struct Output {
        std::chrono::milliseconds delay{0};
        std::vector<uint8_t> bytes;
    };

    // The model and the injector are shared with other lines; the injector may be null.
    PanelResponder(std::shared_ptr<PanelModel> model, std::shared_ptr<FaultInjector> faults,
                   Options options);

    // One output per answered command, in order. Silent commands produce none.
    std::vector<Output> receive(const uint8_t* bytes, size_t count, TimePoint now);
    void expire(TimePoint now) { m_reader.expire(now); }

private:
    std::shared_ptr<PanelModel> m_model;
    std::shared_ptr<FaultInjector> m_faults;
    Options m_options;
    CommandReader m_reader;
};

}  // namespace kw::panel
