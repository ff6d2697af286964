#include "snmp/stub/AgentStub.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

unsigned char bufferSource[kBufferSourceSize];

namespace kw::agentstub {
namespace {

struct State {
    std::mutex mutex;
    std::condition_variable cond;
    std::vector<std::string> calls;
    std::vector<std::string> args;
    RIXCallbackFunc str = nullptr;
    RIXCallbackFunc holiday = nullptr;
    bool inMain = false;
    bool stop = false;
};

State& state()
{
    static State s;
    return s;
}

}  // namespace

std::vector<std::string> calls()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().calls;
}

std::vector<std::string> mainArgs()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().args;
}

RIXCallbackFunc stringCallback()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().str;
}

RIXCallbackFunc holidayCallback()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    return state().holiday;
}

bool waitForMain(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(state().mutex);
    return state().cond.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                 [] { return state().inMain; });
}

void stopMain()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().stop = true;
    state().cond.notify_all();
}

void reset()
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().calls.clear();
    state().args.clear();
    state().str = nullptr;
    state().holiday = nullptr;
    state().inMain = false;
    state().stop = false;
}

}  // namespace kw::agentstub

using kw::agentstub::state;

extern "C" int main_snmp(int argc, char** argv)
{
    std::unique_lock<std::mutex> lock(state().mutex);
    state().calls.emplace_back("main_snmp");
    state().args.clear();
    for (int i = 0; i < argc && argv != nullptr; ++i) {
        state().args.emplace_back(argv[i] != nullptr ? argv[i] : "");
    }
    state().inMain = true;
    state().cond.notify_all();
    state().cond.wait(lock, [] { return state().stop; });
    return 0;
}

extern "C" int RegisterCallback_STR(RIXCallbackFunc fn)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().calls.emplace_back("RegisterCallback_STR");
    state().str = fn;
    return 1;
}

extern "C" int RegisterCallback_HOLIDAY(RIXCallbackFunc fn)
{
    std::lock_guard<std::mutex> lock(state().mutex);
    state().calls.emplace_back("RegisterCallback_HOLIDAY");
    state().holiday = fn;
    return 1;
}
