#pragma once
// The command-line options both host programs share: the simulated panel's fault injection,
// in getopt_long's terms, and the checked reading of option values.
#include <getopt.h>

#include <string>
#include <vector>

#include "host/panel/Faults.h"

namespace kw::panel {

// getopt_long values of the fault options; above any character a short option can use.
enum FaultOptionId : int {
    kOptDelayMs = 0x1000,
    kOptSilentRate,
    kOptNakRate,
    kOptCorruptRate,
    kOptGarbageRate,
    kOptSeed,
};

// The fault options' getopt_long entries, to append to a program's own.
void appendFaultOptions(std::vector<option>& table);

// Applies the fault option `id` with its value. False with a one-line `error` (naming the
// option) when the value is out of range; `id` must be one of FaultOptionId.
bool applyFaultOption(int id, const char* value, FaultConfig& faults, std::string* error);

// `text` as a whole number from lo to hi, all of it. False with `error` naming `option`.
bool parseWholeNumber(const char* option, const char* text, long long lo, long long hi,
                      long long* value, std::string* error);

}  // namespace kw::panel
