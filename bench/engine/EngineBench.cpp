// Reply path throughput: parse one reply frame into the list and take it out again.
#include <benchmark/benchmark.h>

#include <vector>

#include "host/framework/Clock.h"
#include "link/VoRIXSNMP.h"

namespace {

std::vector<unsigned char> replyFrame(unsigned char cmd, size_t valueCount)
{
    std::vector<unsigned char> frame{0xFF, static_cast<unsigned char>(valueCount + 2), 'A', cmd};
    for (size_t i = 0; i < valueCount; ++i) frame.push_back(static_cast<unsigned char>(i));
    unsigned char sum = 0;
    for (unsigned char b : frame) sum = static_cast<unsigned char>(sum + b);
    frame.push_back(sum);
    return frame;
}

void freeReply(nsVoRIXSNMP::_stVoRIXData* reply)
{
    delete[] reply->pData;
    delete reply;
}

// One frame in, the same reply out: the path a single transaction takes.
void BM_ReceiveAndPop(benchmark::State& state)
{
    kw::host::VirtualClockScope clock(0);
    VoRIXSNMP engine;
    const auto frame = replyFrame(0x11, static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        unsigned int len = static_cast<unsigned int>(frame.size());
        if (engine.CheckReceiveData(frame.data(), len) != 0) state.SkipWithError("not taken");
        nsVoRIXSNMP::_stVoRIXData* reply = engine.PopRIXData(0x11, 1);
        if (reply == nullptr)
            state.SkipWithError("not found");
        else
            freeReply(reply);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * frame.size()));
}
BENCHMARK(BM_ReceiveAndPop)->Arg(1)->Arg(16)->Arg(253);

// The wanted reply sits behind leftovers for other commands that have not aged out yet.
void BM_PopBehindLeftovers(benchmark::State& state)
{
    kw::host::VirtualClockScope clock(0);
    VoRIXSNMP engine;
    for (int i = 0; i < state.range(0); ++i) {
        const auto other = replyFrame(static_cast<unsigned char>(0x20 + i % 0x40), 2);
        unsigned int len = static_cast<unsigned int>(other.size());
        engine.CheckReceiveData(other.data(), len);
    }
    const auto frame = replyFrame(0x11, 2);
    for (auto _ : state) {
        unsigned int len = static_cast<unsigned int>(frame.size());
        engine.CheckReceiveData(frame.data(), len);
        nsVoRIXSNMP::_stVoRIXData* reply = engine.PopRIXData(0x11, 1);
        if (reply == nullptr)
            state.SkipWithError("not found");
        else
            freeReply(reply);
    }
}
BENCHMARK(BM_PopBehindLeftovers)->Arg(0)->Arg(8)->Arg(64);

}  // namespace

BENCHMARK_MAIN();
