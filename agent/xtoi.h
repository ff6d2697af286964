#pragma once
// Hexadecimal text to an unsigned 32-bit value.

// Converts up to eight hexadecimal digits (either case, no prefix, sign or blank).
// 1: converted (or empty text, *result untouched); 2: more than eight characters (*result
// untouched); 4: a character that is not a hex digit (*result = 0xFFFFFFFF); 0: a null pointer.
int xtoi(const char* text, unsigned int* result);
