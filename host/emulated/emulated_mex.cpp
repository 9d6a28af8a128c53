// SPDX-License-Identifier: BSD-3-Clause
// The emulated host's error calls: MATLAB's libmex part of the host API.
// On Windows they form libmex.dll beside libmx.dll (the rest of the host), so
// that a plug-in imports each host function from the library it comes from
// in MATLAB; elsewhere they are part of the one host library.
#include "emulated_host.h"

#include <cstdarg>
#include <cstdio>
#include <string>

void mexErrMsgTxt(const char* message) {
    emu::error_call(std::string("mexErrMsgTxt(\"") + (message ? message : "") + "\")", "",
                    message ? message : "");
}

void mexErrMsgIdAndTxt(const char* id, const char* format, ...) {
    char buffer[4096] = "";
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
    }
    emu::error_call(std::string("mexErrMsgIdAndTxt(") + (id ? id : "") + ",\"" + buffer + "\")",
                    id ? id : "", buffer);
}
