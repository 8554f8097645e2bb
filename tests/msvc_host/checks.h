// A small check harness for a host that has no C++ library: named cases,
// checks that report file, line and expression, and output straight to the
// standard handles.
#pragma once

#include <windows.h>

namespace checks {

inline void write(const char* text) {
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(lstrlenA(text)), &written, nullptr);
}

inline void write(long long value) {
    char digits[24];
    char* p = digits + sizeof digits;
    *--p = 0;
    const bool negative = value < 0;
    unsigned long long v = negative ? 0ull - static_cast<unsigned long long>(value) : value;
    do {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    if (negative) *--p = '-';
    write(p);
}

inline void write(unsigned long value) { write(static_cast<long long>(value)); }
inline void write(int value) { write(static_cast<long long>(value)); }

template <class... Parts>
void line(const Parts&... parts) {
    (write(parts), ...);
    write("\n");
}

inline int failures = 0;

inline bool report(bool ok, const char* file, int lineNumber, const char* expression) {
    if (!ok) {
        ++failures;
        line(file, ":", lineNumber, ": check failed: ", expression);
    }
    return ok;
}

inline bool sameText(const char* a, const char* b) { return a && b && lstrcmpA(a, b) == 0; }

inline bool contains(const char* text, const char* part) {
    if (!text || !part) return false;
    const int n = lstrlenA(text), m = lstrlenA(part);
    for (int i = 0; i + m <= n; ++i) {
        int j = 0;
        while (j < m && text[i + j] == part[j]) ++j;
        if (j == m) return true;
    }
    return false;
}

}  // namespace checks

#define CHECK(expression) checks::report(static_cast<bool>(expression), __FILE__, __LINE__, #expression)
#define CHECK_TEXT(actual, expected)                                                                             \
    do {                                                                                                         \
        const char* checkedText = (actual);                                                                      \
        if (!CHECK(checks::sameText(checkedText, expected)))                                                     \
            checks::line("    got \"", checkedText ? checkedText : "(null)", "\", expected \"", expected, "\""); \
    } while (0)
// Marks a point that a case must not reach.
#define FAIL(message) checks::report(false, __FILE__, __LINE__, message)
