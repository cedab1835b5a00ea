/* The few C library routines that the compiler and the handheld code call. Written plainly
   (byte loops, word loops where both sides are aligned); the file is compiled so that the
   compiler does not turn these loops back into calls to themselves. */
#include <stddef.h>
#include <stdint.h>

void* memcpy(void* restrict destination, const void* restrict source, size_t count) {
    unsigned char* d = destination;
    const unsigned char* s = source;
    if ((((uintptr_t)d | (uintptr_t)s) & 3) == 0) {
        for (; count >= 4; count -= 4, d += 4, s += 4) *(uint32_t*)d = *(const uint32_t*)s;
    }
    while (count--) *d++ = *s++;
    return destination;
}

void* memmove(void* destination, const void* source, size_t count) {
    unsigned char* d = destination;
    const unsigned char* s = source;
    if (d == s || count == 0) return destination;
    if (d < s || d >= s + count) {
        while (count--) *d++ = *s++;
    } else {
        d += count;
        s += count;
        while (count--) *--d = *--s;
    }
    return destination;
}

void* memset(void* destination, int value, size_t count) {
    unsigned char* d = destination;
    const unsigned char byte = (unsigned char)value;
    if (((uintptr_t)d & 3) == 0) {
        const uint32_t word = byte * 0x01010101u;
        for (; count >= 4; count -= 4, d += 4) *(uint32_t*)d = word;
    }
    while (count--) *d++ = byte;
    return destination;
}

int memcmp(const void* left, const void* right, size_t count) {
    const unsigned char* a = left;
    const unsigned char* b = right;
    for (; count; --count, ++a, ++b)
        if (*a != *b) return *a < *b ? -1 : 1;
    return 0;
}

size_t strlen(const char* text) {
    const char* p = text;
    while (*p) ++p;
    return (size_t)(p - text);
}
