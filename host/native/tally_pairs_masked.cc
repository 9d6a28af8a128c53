// SPDX-License-Identifier: BSD-3-Clause
// tally_pairs_masked as a native Octave function (see native_tally_pairs.h).
#include "native_tally_pairs.h"
#include "plugin_help.h"

DEFUN_DLD(tally_pairs_masked, args, nargout, PLUGIN_HELP) {
    return tally_pairs::native_entry<tally_pairs::Masked>(args, nargout);
}
