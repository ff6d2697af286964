#pragma once
// Time and debug helpers shared by the whole module.

// Gates only the message trace; the host process may set it. The module never writes it.
extern bool g_bEnableDebugMsgSNMP;

// The framework's millisecond tick; callers take differences modulo 2^32.
unsigned int VoGetTickCountSNMP();
void VoSleepSNMP(long ms);
// Writes nothing and returns 0.
int VoPrintfSNMP(const char* format, ...);
