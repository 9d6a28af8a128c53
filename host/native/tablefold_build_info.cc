// SPDX-License-Identifier: BSD-3-Clause
// tablefold_build_info: what the compiled functions of a toolbox folder were
// built for, and the code path and threads a pair tally call would take now
// and why. `tablefold` prints it; this function is built into every toolbox
// folder for Octave, beside the native functions or the MEX files.
#include "tally_pairs_vector.h"

#include <octave/oct.h>

#include <octave/ov-struct.h>
#include <octave/version.h>

#include <cstdlib>
#include <string>

namespace {

// Why a call takes the path it takes: TABLEFOLD_ISA, and what came of it.
std::string path_reason(const char* asked, tally_pairs::Isa path, tally_pairs::Isa widest) {
    using tally_pairs::isa_name;
    const std::string widest_text =
        std::string("the widest path this processor runs is ") + isa_name(widest);
    if (asked == nullptr) return "TABLEFOLD_ISA is not set; " + widest_text;
    const std::string setting = std::string("TABLEFOLD_ISA is '") + asked + "'";
    if (!tally_pairs::isa_known(asked))
        return setting + ", which names no path of this build: ignored; " + widest_text;
    if (std::string(isa_name(path)) != asked)
        return setting + ", a path this processor does not run: ignored; " + widest_text;
    return setting + "; " + widest_text;
}

} // namespace

DEFUN_DLD(tablefold_build_info, args, ,
          "INFO = tablefold_build_info ()\n\n"
          "The Octave version and API that the compiled functions of this folder\n"
          "were built for, and the code path (tally_path) and threads that a pair\n"
          "tally call would take now, with the reason (tally_path_reason).\n"
          "`tablefold` prints it.\n") {
    if (args.length() != 0) print_usage();
    const char* const asked = std::getenv("TABLEFOLD_ISA");
    const tally_pairs::Isa widest = tally_pairs::isa_supported();
    const tally_pairs::Isa path = tally_pairs::isa_for_call();
    octave_scalar_map info;
    info.assign("octave_version", OCTAVE_VERSION);
    info.assign("api_version", OCTAVE_API_VERSION);
    info.assign("tally_path", tally_pairs::isa_name(path));
    info.assign("widest_path", tally_pairs::isa_name(widest));
    info.assign("isa_setting", asked ? asked : "");
    info.assign("tally_path_reason", path_reason(asked, path, widest));
    // Every call runs on the calling thread alone.
    info.assign("threads", 1.0);
    return octave_value(info);
}
