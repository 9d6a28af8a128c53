// SPDX-License-Identifier: BSD-3-Clause
// tally_pairs_masked on arbitrary arguments and on valid inputs (see tally_pairs_fuzz.h).
//
// Seed regression-w-holds-no-elements (W a 1 x 1 x 0 array, one record)
// caught the kernel reading W(1, 1), which such an array does not hold: its
// first two dimensions had been taken for its size.
#include "tally_pairs_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return tallyfuzz::run("tally_pairs_masked", false, data, size);
}
