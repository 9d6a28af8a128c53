// SPDX-License-Identifier: BSD-3-Clause
// tablefold_build_info: what the compiled functions of a toolbox folder were
// built for, and the code path and threads a pair tally call would take now
// and why. `tablefold` prints it; this function is built into every toolbox
// folder for Octave, beside the native functions or the MEX files.
#include "tally_pairs_vector.h"
#include "threads.h"

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
    if (asked == nullptr || *asked == '\0') return "TABLEFOLD_ISA is not set; " + widest_text;
    const std::string setting = std::string("TABLEFOLD_ISA is '") + asked + "'";
    if (!tally_pairs::isa_known(asked))
        return setting + ", which names no path of this build: ignored; " + widest_text;
    if (std::string(isa_name(path)) != asked)
        return setting + ", a path this processor does not run: ignored; " + widest_text;
    return setting + "; " + widest_text;
}

// Why a large call of a native function takes the threads it takes.
std::string threads_reason(const char* setting) {
    const std::string processors =
        "the processors this process may run on: " + std::to_string(threads::processors());
    if (setting == nullptr || *setting == '\0')
        return "TABLEFOLD_THREADS is not set; " + processors;
    const std::string named = std::string("TABLEFOLD_THREADS is '") + setting + "'";
    if (threads::asked() == 0)
        return named + ", not a whole number from 1 to " + std::to_string(threads::kMaxThreads) +
               ": ignored; " + processors;
    return named;
}

} // namespace

DEFUN_DLD(tablefold_build_info, args, ,
          "INFO = tablefold_build_info ()\n\n"
          "The Octave version and API that the compiled functions of this folder\n"
          "were built for, the code path (tally_path) that a pair tally call\n"
          "would take now, and the threads that a large call of a native function\n"
          "would take now, each with the reason (tally_path_reason,\n"
          "threads_reason).\n"
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
    info.assign("threads", static_cast<double>(threads::for_call()));
    info.assign("threads_reason", threads_reason(std::getenv("TABLEFOLD_THREADS")));
    return octave_value(info);
}
