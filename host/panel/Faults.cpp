#include "host/panel/Faults.h"

namespace kw::panel {
namespace {

constexpr size_t kMaxGarbage = 8;

bool validRate(double rate)
{
    return rate >= 0.0 && rate <= 1.0;  // false for NaN too
}

}  // namespace

bool FaultConfig::any() const
{
    return delay.count() > 0 || silentRate > 0 || nakRate > 0 || corruptRate > 0 || garbageRate > 0;
}

std::optional<std::string> FaultConfig::validate() const
{
    if (delay.count() < 0) return std::string("delay-ms must not be negative");
    if (!validRate(silentRate)) return std::string("silent-rate must be between 0 and 1");
    if (!validRate(nakRate)) return std::string("nak-rate must be between 0 and 1");
    if (!validRate(corruptRate)) return std::string("corrupt-rate must be between 0 and 1");
    if (!validRate(garbageRate)) return std::string("garbage-rate must be between 0 and 1");
    return std::nullopt;
}

std::vector<uint8_t> FaultPlan::applyTo(std::vector<uint8_t> frame, size_t firstCorruptible) const
{
    if (corrupt && frame.size() > firstCorruptible) {
        const size_t at = firstCorruptible + corruptPick % (frame.size() - firstCorruptible);
        frame[at] ^= corruptMask;
    }
    if (!garbage.empty()) frame.insert(frame.begin(), garbage.begin(), garbage.end());
    return frame;
}

FaultInjector::FaultInjector(FaultConfig config) : m_config(config), m_rng(config.seed) {}

// 24 random bits into [0, 1): the same on every standard library, unlike the distributions.
double FaultInjector::uniform()
{
    return static_cast<double>(m_rng() >> 8) / static_cast<double>(1u << 24);
}

FaultPlan FaultInjector::next()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    FaultPlan plan;
    plan.delay = m_config.delay;
    const double silent = uniform();
    const double nak = uniform();
    const double corrupt = uniform();
    const double garbage = uniform();
    plan.corruptPick = m_rng();
    plan.corruptMask = static_cast<uint8_t>(1u << (m_rng() % 8));
    const size_t garbageLength = 1 + m_rng() % kMaxGarbage;
    uint8_t junk[kMaxGarbage];
    for (uint8_t& b : junk) b = static_cast<uint8_t>(m_rng());

    plan.silent = silent < m_config.silentRate;
    plan.nak = !plan.silent && nak < m_config.nakRate;
    plan.corrupt = !plan.silent && corrupt < m_config.corruptRate;
    if (!plan.silent && garbage < m_config.garbageRate)
        plan.garbage.assign(junk, junk + garbageLength);
    return plan;
}

}  // namespace kw::panel
