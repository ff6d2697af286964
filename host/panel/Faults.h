#pragma once
// Fault injection for the simulated panel. Seeded, so a run repeats: the same seed and the
// same sequence of commands give the same faults. Every command draws the same amount from
// the generator whatever happens to it, so one fault does not shift the ones after it.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace kw::panel {

struct FaultConfig {
    std::chrono::milliseconds delay{0};  // before every reply
    double silentRate = 0;               // the command is lost: no reply, nothing applied
    double nakRate = 0;                  // refused with 'N' (NakReason::Injected), nothing applied
    double corruptRate = 0;              // one byte of the reply flipped, so its checksum fails
    double garbageRate = 0;              // junk bytes sent before the reply
    uint32_t seed = 1;

    bool any() const;
    // Empty when valid, else what is wrong ("nak-rate must be between 0 and 1").
    std::optional<std::string> validate() const;
};

// What happens to one command.
struct FaultPlan {
    std::chrono::milliseconds delay{0};
    bool silent = false;
    bool nak = false;
    bool corrupt = false;
    uint32_t corruptPick = 0;      // which byte to flip: applyTo() takes it modulo the choice
    uint8_t corruptMask = 0x01;    // never 0
    std::vector<uint8_t> garbage;  // empty unless garbage was drawn

    // Applies corruption and garbage to an encoded reply. `firstCorruptible` is the offset
    // of the first byte that may be flipped (the reply command byte), so the frame stays
    // recognisable and fails on its checksum.
    std::vector<uint8_t> applyTo(std::vector<uint8_t> frame, size_t firstCorruptible) const;
};

class FaultInjector {
public:
    explicit FaultInjector(FaultConfig config);
    // Thread-safe.
    FaultPlan next();
    const FaultConfig& config() const { return m_config; }

private:
    double uniform();

    FaultConfig m_config;
    std::mutex m_mutex;
    std::mt19937 m_rng;
};

}  // namespace kw::panel
