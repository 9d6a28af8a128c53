// SPDX-License-Identifier: BSD-3-Clause
// scanline on patterns of valid items and arbitrary lines. The line, the
// pattern and the output buffer are allocated at their exact sizes, so any
// read or write beyond them is a sanitizer report. Checks: no valid item is
// taken for a bad one, two runs agree, the form fits the room promised, a
// pattern without items matches exactly the identical line, and neither the
// line nor the pattern is written.
#include "scanline.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider d(data, size);
    static const char* const items[] = {"%%",  "% ",  "%\n",  "%c",  "%d",  "%f",  "%s",
                                        "%*%", "%* ", "%*\n", "%*c", "%*d", "%*f", "%*s"};
    std::string pattern;
    int nitems = 0;
    const int parts = d.ConsumeIntegralInRange<int>(0, 12);
    for (int i = 0; i < parts; ++i) {
        if (d.ConsumeBool()) {
            pattern += items[d.ConsumeIntegralInRange<int>(0, 13)];
            ++nitems;
        } else {
            const char literal[] = {' ', '\t', '\n', 'a', '=', ',', '.', '+', '-', '1', '(', ')'};
            pattern += literal[d.ConsumeIntegralInRange<int>(0, 11)];
        }
    }
    std::string line = d.ConsumeRemainingBytesAsString();
    line = line.substr(0, std::strlen(line.c_str())); // up to the first NUL

    char* l = static_cast<char*>(std::malloc(line.size() + 1));
    char* p = static_cast<char*>(std::malloc(pattern.size() + 1));
    const size_t room = line.size() + size_t(nitems) + 1;
    char* out1 = static_cast<char*>(std::malloc(room));
    char* out2 = static_cast<char*>(std::malloc(room));
    std::memcpy(l, line.c_str(), line.size() + 1);
    std::memcpy(p, pattern.c_str(), pattern.size() + 1);

    const int r1 = maskdiff::scanline(l, p, out1);
    const int r2 = maskdiff::scanline(l, p, out2);
    if (r1 == maskdiff::kScanBadItem || r1 != r2) std::abort();
    if (r1 == 1) {
        const size_t n = strnlen(out1, room);
        if (n >= room || n > line.size() + size_t(nitems)) std::abort();
        if (std::strcmp(out1, out2) != 0) std::abort();
    }
    if (nitems == 0 && (r1 == 1) != (line == pattern)) std::abort();
    if (nitems == 0 && r1 == 1 && line != out1) std::abort();
    if (std::strcmp(l, line.c_str()) != 0 || std::strcmp(p, pattern.c_str()) != 0) std::abort();
    std::free(l);
    std::free(p);
    std::free(out1);
    std::free(out2);
    return 0;
}
