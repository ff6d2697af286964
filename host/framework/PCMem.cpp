#include "platform/PCMem.h"

#include <cstring>

void* PCMem::Copy(void* dst, const void* src, size_t n)
{
    if (dst == nullptr || src == nullptr || n == 0) return dst;
    return std::memmove(dst, src, n);
}

void* PCMem::Set(void* dst, int value, size_t n)
{
    if (dst == nullptr || n == 0) return dst;
    return std::memset(dst, value, n);
}

char* PCString::Copy(char* dst, const char* src, size_t n)
{
    if (dst == nullptr || n == 0) return dst;
    if (src == nullptr) {
        dst[0] = '\0';
        return dst;
    }
    std::strncpy(dst, src, n - 1);
    dst[n - 1] = '\0';
    return dst;
}
