#pragma once
// Counters of the display request queue, for the agent's own health objects. Counters only
// grow while the process lives; depth is the number of requests waiting or in service.
#include <cstddef>
#include <cstdint>

namespace kw::snmp {

struct QueueStats {
    uint64_t served = 0;           // requests the display finished serving
    uint64_t refused = 0;          // requests refused: queue full or over a limit
    uint64_t resendsAbsorbed = 0;  // retransmissions joined to a request already in hand
    size_t depth = 0;              // requests waiting or in service now
};

}  // namespace kw::snmp
