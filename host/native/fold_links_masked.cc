// SPDX-License-Identifier: BSD-3-Clause
// fold_links_masked as a native Octave function (see native_fold_links.h).
#include "native_fold_links.h"
#include "plugin_help.h"

DEFUN_DLD(fold_links_masked, args, nargout, PLUGIN_HELP) {

    return fold_links::native_entry<fold_links::Masked>(args, nargout);
}
