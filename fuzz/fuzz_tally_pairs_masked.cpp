// SPDX-License-Identifier: BSD-3-Clause
// tally_pairs_masked on arbitrary arguments and on valid inputs (see tally_pairs_fuzz.h).
#include "tally_pairs_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return tallyfuzz::run("tally_pairs_masked", false, data, size);
}
