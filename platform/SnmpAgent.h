#pragma once
// The SNMP agent library's interface to the module: four symbols.
#include <cstddef>

// The request index that the agent passes to the callbacks: 0 to 87 for the string callback,
// 59 and 60 for the holiday callback. The underlying type is fixed so that any int the agent
// passes is a valid value.
enum eFuncType : int {
    FUNC_TYPE_FIRST = 0,
    FUNC_HOLIDAY_COUNT = 59,
    FUNC_HOLIDAY_ENTRY = 60,
    FUNC_TYPE_LAST = 87,
};

// buf: at least 256 bytes; getset: 0 set, 1 get; extra: value length or holiday entry.
// Returns non-zero on success, 0 on failure.
typedef int (*RIXCallbackFunc)(unsigned char* buf, int getset, eFuncType index, int extra);

constexpr size_t kBufferSourceSize = 1024;

extern "C" {
// Runs the agent on the calling thread; returns only when the agent is stopped.
int main_snmp(int argc, char** argv);
int RegisterCallback_STR(RIXCallbackFunc fn);
int RegisterCallback_HOLIDAY(RIXCallbackFunc fn);
// Receives a copy of every reply frame the module rebuilds (at most 1021 bytes).
extern unsigned char bufferSource[kBufferSourceSize];
}
