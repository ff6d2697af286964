#include "runtime/VoUtilSNMP.h"

#include "platform/PCTime.h"

bool g_bEnableDebugMsgSNMP = false;

unsigned int VoGetTickCountSNMP()
{
    return PCTime::Tick();
}

void VoSleepSNMP(long ms)
{
    PCTime::Sleep(ms, 0);
}

int VoPrintfSNMP(const char* /*format*/, ...)
{
    return 0;
}
