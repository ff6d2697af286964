// Bytes as a serial receive loop feeds them to the reply-frame engine: a frame at the front is
// taken, "not a frame" drops one byte, "incomplete" stops.
#include "fuzz/FuzzSupport.h"
#include "host/framework/Clock.h"
#include "link/VoRIXSNMP.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    kw::host::Clock::useVirtual(0xFFFF0000u);  // near the wrap: ages are measured across it
    return 0;
}

KW_FUZZ_TARGET(16 * 258)  // sixteen longest frames; each byte beyond them only resyncs
{
    VoRIXSNMP engine;  // frees what is left stored when it goes
    for (unsigned frames = 0; in.size() > 0; ++frames) {
        const uint8_t* frame = in.bytes();
        unsigned len = static_cast<unsigned>(in.size());
        const int result = engine.CheckReceiveData(frame, len);
        check(result >= 0 && result <= 2 && (result == 0 || len == in.size()));
        if (result == 2) break;
        in.take(result == 1 ? 1 : len);
        if (result == 1) continue;
        check(len >= 5 && len <= 258 && len == frame[1] + 3u && !engine.m_ReplyList.empty());
        const nsVoRIXSNMP::_stVoRIXData* last = engine.m_ReplyList.back();
        check(last->nAck == frame[2] && last->nCmd == frame[3] && last->nSize == len - 5u);
        check(last->nSize == 0 || std::memcmp(last->pData, frame + 4, last->nSize) == 0);

        // The ack byte moves time on, so purges happen. Even frames ask for their own reply,
        // which must come out; odd ones for another command, which may miss and poll.
        kw::host::Clock::advance(frame[2] * 200u);
        const unsigned char cmd = frames % 2 == 0 ? frame[3] : frame[3] ^ 0x80u;
        nsVoRIXSNMP::_stVoRIXData* reply = engine.PopRIXData(cmd, 150);
        check(reply != nullptr ? reply->nCmd == cmd : cmd != frame[3]);
        if (reply != nullptr) delete[] reply->pData;
        delete reply;
    }
}
