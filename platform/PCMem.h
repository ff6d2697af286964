#pragma once
// Host framework: plain memory and string copies.
#include <cstddef>

class PCMem {
public:
    static void* Copy(void* dst, const void* src, size_t n);
    static void* Set(void* dst, int value, size_t n);
};

class PCString {
public:
    // Copies at most n - 1 characters and always terminates when n > 0.
    static char* Copy(char* dst, const char* src, size_t n);
};
