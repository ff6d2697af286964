// Feeds arbitrary bytes to the reply-frame parser the way a serial receive loop would: take a
// frame at the front, drop one byte on "not a frame", stop on "incomplete". Every stored
// reply is then handed out again, half through PopRIXData, half by draining the list.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz/FuzzSupport.h"
#include "host/framework/Clock.h"
#include "link/VoRIXSNMP.h"

using kw::fuzz::check;

namespace {

void freeReply(nsVoRIXSNMP::_stVoRIXData* reply)
{
    delete[] reply->pData;
    delete reply;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Near the wrap, so ages and timeouts are measured across it.
    kw::host::Clock::useVirtual(0xFFFF0000u);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // Sixteen longest frames; longer inputs only cost time (each byte resyncs alone).
    if (size > 16 * 258) return 0;
    VoRIXSNMP engine;
    size_t offset = 0;
    unsigned int frames = 0;
    while (offset < size) {
        const unsigned int avail = static_cast<unsigned int>(size - offset);
        unsigned int len = avail;
        const int result = engine.CheckReceiveData(data + offset, len);
        if (result == 2) {
            check(len == avail);
            break;
        }
        if (result == 1) {
            check(len == avail);
            ++offset;
            continue;
        }
        check(result == 0);
        const uint8_t* frame = data + offset;
        check(len >= 5 && len <= 258 && len <= avail && len == frame[1] + 3u);
        check(!engine.m_ReplyList.empty());
        const nsVoRIXSNMP::_stVoRIXData* last = engine.m_ReplyList.back();
        check(last->nAck == frame[2] && last->nCmd == frame[3] && last->nSize == len - 5u);
        check(last->nSize == 0 || std::memcmp(last->pData, frame + 4, last->nSize) == 0);

        // The acknowledgement byte picks how far time moves on, so purges happen.
        kw::host::Clock::advance(static_cast<uint32_t>(frame[2]) * 200u);
        // Even frames: their own reply is stored, so it (or an older one) comes out at once.
        // Odd frames: ask for another command too, which may take the miss-and-poll path.
        const unsigned char cmd = (frames++ & 1u) == 0 ? frame[3] : frame[3] ^ 0x80u;
        nsVoRIXSNMP::_stVoRIXData* reply = engine.PopRIXData(cmd, 150);
        check(reply != nullptr || cmd != frame[3]);
        if (reply != nullptr) {
            check(reply->nCmd == cmd);
            freeReply(reply);
        }
        offset += len;
    }

    // A zero timeout never searches, whatever is stored.
    check(engine.PopRIXData(0x11, 0) == nullptr);
    // Drain half of what is left by hand; the engine frees the rest when it goes.
    size_t drain = engine.m_ReplyList.size() / 2;
    while (drain-- > 0) {
        nsVoRIXSNMP::_stVoRIXData* reply = engine.m_ReplyList.front();
        engine.m_ReplyList.pop_front();
        check(reply->nSize <= 253);
        freeReply(reply);
    }
    return 0;
}
