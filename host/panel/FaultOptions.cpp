#include "host/panel/FaultOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace kw::panel {
namespace {

struct FaultOption {
    const char* name;
    int id;
};

constexpr FaultOption kFaultOptions[] = {
    {"delay-ms", kOptDelayMs},         {"silent-rate", kOptSilentRate},   {"nak-rate", kOptNakRate},
    {"corrupt-rate", kOptCorruptRate}, {"garbage-rate", kOptGarbageRate}, {"seed", kOptSeed},
};

const char* nameOf(int id)
{
    for (const FaultOption& o : kFaultOptions)
        if (o.id == id) return o.name;
    return "?";
}

bool parseProbability(const char* option, const char* text, double* value, std::string* error)
{
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text, &end);
    if (*text == '\0' || errno != 0 || *end != '\0' || !std::isfinite(parsed) || parsed < 0 ||
        parsed > 1) {
        *error =
            std::string("--") + option + ": expected a probability from 0 to 1, got '" + text + "'";
        return false;
    }
    *value = parsed;
    return true;
}

}  // namespace

void appendFaultOptions(std::vector<option>& table)
{
    for (const FaultOption& o : kFaultOptions)
        table.push_back({o.name, required_argument, nullptr, o.id});
}

bool applyFaultOption(int id, const char* value, FaultConfig& faults, std::string* error)
{
    const char* name = nameOf(id);
    long long number = 0;
    switch (id) {
        case kOptDelayMs:
            if (!parseWholeNumber(name, value, 0, 600000, &number, error)) return false;
            faults.delay = std::chrono::milliseconds(number);
            return true;
        case kOptSeed:
            if (!parseWholeNumber(name, value, 0, UINT32_MAX, &number, error)) return false;
            faults.seed = static_cast<uint32_t>(number);
            return true;
        case kOptSilentRate:
            return parseProbability(name, value, &faults.silentRate, error);
        case kOptNakRate:
            return parseProbability(name, value, &faults.nakRate, error);
        case kOptCorruptRate:
            return parseProbability(name, value, &faults.corruptRate, error);
        case kOptGarbageRate:
            return parseProbability(name, value, &faults.garbageRate, error);
        default:
            *error = "not a fault option";
            return false;
    }
}

bool parseWholeNumber(const char* option, const char* text, long long lo, long long hi,
                      long long* value, std::string* error)
{
    char* end = nullptr;
    errno = 0;
    // strtoll would take leading blanks and a sign; a number here is digits only.
    const long long parsed = (*text >= '0' && *text <= '9') ? std::strtoll(text, &end, 10) : -1;
    if (end == nullptr || errno != 0 || *end != '\0' || parsed < lo || parsed > hi) {
        *error = std::string("--") + option + ": expected a whole number from " +
                 std::to_string(lo) + " to " + std::to_string(hi) + ", got '" + text + "'";
        return false;
    }
    *value = parsed;
    return true;
}

}  // namespace kw::panel
