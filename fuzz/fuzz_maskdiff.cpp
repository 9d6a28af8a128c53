// SPDX-License-Identifier: BSD-3-Clause
// The comparison driver on two arbitrary in-memory inputs. Checks: the exit
// status is 0 exactly when the report is "OK", it agrees with the inputs'
// order swapped, and identical inputs give "OK".
//
// Seed regression-identical-no-newline (two identical inputs of a 0x8a byte
// and NULs, no newline) caught the block sweep over identical data backing up
// to a pointer before the start of the buffer when it ended without a newline.
#include "driver.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int compare(const std::string& a, const std::string& b, std::string* report) {
    char* text = nullptr;
    size_t length = 0;
    std::FILE* out = open_memstream(&text, &length);
    const int status = maskdiff::compare(maskdiff::memory_input(a.data(), a.size()),
                                         maskdiff::memory_input(b.data(), b.size()), out);
    std::fclose(out);
    if (report) report->assign(text, length);
    std::free(text);
    return status;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider d(data, size);
    const std::string a = d.ConsumeRandomLengthString(size);
    const std::string b = d.ConsumeBool() ? a : d.ConsumeRemainingBytesAsString();
    std::string report;
    const int status = compare(a, b, &report);
    if ((status == 0) != (report == "OK\n")) std::abort();
    if (compare(b, a, nullptr) != status) std::abort();
    if (a == b && status != 0) std::abort();
    return 0;
}
