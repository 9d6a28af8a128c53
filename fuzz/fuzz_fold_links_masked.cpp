// SPDX-License-Identifier: BSD-3-Clause
// fold_links_masked on arbitrary arguments and on valid tables (see fold_links_fuzz.h).
#include "fold_links_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return foldfuzz::run("fold_links_masked", true, data, size);
}
