// SPDX-License-Identifier: BSD-3-Clause
// The emulated host: arrays of our own behind the C entry points of
// mex_api.h, and a harness that loads a real plug-in file and calls its
// mexFunction the way MATLAB does.
//
// Per call the harness checks what MATLAB would only suffer silently:
//   - every array the plug-in created ends in an output slot, inside a cell
//     held by one, or destroyed (no leak, no double ownership, no dangling
//     slot);
//   - no input changed, and no write landed in the guard zones around any
//     array's data;
//   - the plug-in passed the host only live handles, in-range cell indices,
//     and arrays it may modify.
// A plug-in error call (mexErrMsgTxt, mexErrMsgIdAndTxt) does not return: it
// throws HostError, which only the harness catches.
#ifndef MEX_EMULATED_HOST_H
#define MEX_EMULATED_HOST_H

#include "mex_api.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace emu {

// Thrown by the error calls; caught by Plugin::call.
struct HostError {
    std::string id;
    std::string message;
};

// The host's error calls (mexErrMsgTxt, mexErrMsgIdAndTxt, which live apart,
// in libmex on Windows): records `traced` and throws HostError.
[[noreturn]] void error_call(const std::string& traced, const std::string& id,
                             const std::string& message);

// Frees an array that the harness (not a plug-in) owns, with its entries.
struct ArrayDeleter {
    void operator()(mxArray* a) const;
};
using ArrayPtr = std::unique_ptr<mxArray, ArrayDeleter>;

// ---- Building inputs (owned by the caller) ----------------------------------

// A real double matrix from column-major values (size rows * cols).
ArrayPtr matrix(int rows, int cols, const std::vector<double>& values);
// A real double matrix of zeros.
ArrayPtr zeros(int rows, int cols);
// A column vector / row vector.
ArrayPtr column(const std::vector<double>& values);
ArrayPtr row(const std::vector<double>& values);
ArrayPtr scalar(double value);
// A cell array of rows * cols entries (column-major); null entries stay empty.
ArrayPtr cell(int rows, int cols, std::vector<ArrayPtr> entries);
// A cell list: rows = entries.size(), one column.
ArrayPtr cell_column(std::vector<ArrayPtr> entries);
// A cell list of the given entries, in order.
template <class... Entries> ArrayPtr list(Entries&&... entries) {
    std::vector<ArrayPtr> v;
    (v.push_back(std::forward<Entries>(entries)), ...);
    return cell_column(std::move(v));
}
// Other classes, for rejection tests.
ArrayPtr char_array(const std::string& text);
ArrayPtr logical(int rows, int cols);
ArrayPtr numeric(mxClassID cls, int rows, int cols);
ArrayPtr complex_matrix(int rows, int cols);
ArrayPtr sparse_matrix(int rows, int cols);
// Any dimensions (three or more too); real double, zero-filled.
ArrayPtr nd_double(const std::vector<int>& dims);
// A deep copy.
ArrayPtr copy(const mxArray* a);

// ---- Reading results --------------------------------------------------------

struct Matrix {
    int rows = 0;
    int cols = 0;
    std::vector<double> values; // column-major
    double at(int r, int c) const { return values[static_cast<size_t>(r) + size_t(rows) * c]; }
};

bool is_cell(const mxArray* a);
mxClassID class_of(const mxArray* a);
std::vector<int> dims_of(const mxArray* a);
// The values of a real double matrix.
Matrix read(const mxArray* a);
// The entries of a cell array, column-major.
std::vector<const mxArray*> entries(const mxArray* a);

// Structural equality: class, dimensions, bits of the data, entries.
bool same_array(const mxArray* a, const mxArray* b);
// A short readable rendering, for failure messages.
std::string describe(const mxArray* a);

// ---- Calling a plug-in ------------------------------------------------------

struct CallResult {
    bool failed = false;                 // the plug-in called the host's error call
    std::string error_id;                // "" for mexErrMsgTxt
    std::string error_message;           // as passed, after formatting
    std::vector<ArrayPtr> outputs;       // the output slots after a successful call
    std::vector<std::string> violations; // everything the host checks found
    std::vector<std::string> trace;      // host calls, when tracing is on
    bool clean() const { return violations.empty(); }
};

class Plugin {
  public:
    // Loads build/mex/<name>.mexa64 (or any path) and looks up mexFunction.
    explicit Plugin(const std::string& path);
    ~Plugin();
    Plugin(const Plugin&) = delete;
    Plugin& operator=(const Plugin&) = delete;

    // Calls mexFunction(nlhs, plhs, nrhs, prhs) with `inputs` as prhs.
    // `slots` output slots are offered (at least 1, as MATLAB does; by default
    // max(nlhs, 1)). With `trace`, every host call is recorded.
    CallResult call(int nlhs, const std::vector<const mxArray*>& inputs, int slots = -1,
                    bool trace = false) const;

  private:
    void* handle_ = nullptr;
    void (*entry_)(int, mxArray**, int, const mxArray**) = nullptr;
};

// The directory holding the built plug-ins (set at build time).
std::string plugin_path(const std::string& name);

// Whether calls snapshot their inputs to prove afterwards that none changed
// and scan the guard zones around every array's data (on by default).
// Benchmarks that verified a call once turn them off, since copying large
// inputs and scanning every array would dominate the time they measure; the
// ownership checks stay on.
void set_thorough_checks(bool on);

// The most a single call may create, in bytes; beyond it a creation reports
// "Out of memory." through the error call, as MATLAB does.
void set_memory_limit(size_t bytes);

} // namespace emu

#endif
