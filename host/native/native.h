// SPDX-License-Identifier: BSD-3-Clause
// The native Octave binding: the plug-ins as Octave functions that build
// Octave values directly, with no MEX layer in between.
//
// A native function behaves as the MEX file of the same name does in Octave:
// the same argument-count messages, the same input checks (kernels/*.h,
// through the accessor below), the same error identifiers and texts (each
// prefixed with the function's name, as Octave's MEX layer prefixes them),
// and results equal bit for bit. It differs in what it costs: outputs are
// written once into memory they then keep, scratch is plain memory, and
// nothing is copied on return. A long call polls for Ctrl-C, and out of
// memory becomes Octave's own error; both unwind through the C++ objects
// that own everything the call allocated.
#ifndef NATIVE_OCTAVE_H
#define NATIVE_OCTAVE_H

#include "checks.h"
#include "threads.h"
#include "views.h"

#include <octave/oct.h>

#include <octave/Cell.h>
#include <octave/ov-re-mat.h>
#include <octave/quit.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#include <new>
#include <string>
#include <vector>

namespace native {

// Raises a fault as Octave's MEX layer raises the same fault of a MEX file:
// "<function>: <message>", with the identifier when there is one; a fixed
// message ending in a line feed drops it and the traceback.
[[noreturn]] inline void report(const char* function, const checks::Fault& fault) {
    if (fault.id[0]) error_with_id(fault.id, "%s: %s", function, fault.message);
    const size_t len = std::strlen(fault.message);
    if (len > 0 && fault.message[len - 1] == '\n') {
        const std::string text(fault.message, len - 1);
        error("%s: %s\n", function, text.c_str());
    }
    error("%s: %s", function, fault.message);
}

// The refusal of a size that does not fit in 32 bits (checks::narrow).
struct Refuse {
    const char* function;
    [[noreturn]] void operator()(const checks::Fault& fault) const { report(function, fault); }
};

// The input checks' view of Octave values (see kernels/checks.h). Data that
// a value does not hold as a plain block of doubles (a scalar, a range, a
// diagonal matrix) is converted once and kept alive here for the call.
class Access {
  public:
    using Arg = const octave_value*;

    explicit Access(const char* function) : function_(function) {}

    checks::Kind kind(Arg a) const {
        checks::Kind k;
        k.present = a != nullptr;
        if (!a) return k;
        k.is_double = a->is_double_type();
        k.number = a->isnumeric() || a->islogical();
        k.complex = a->iscomplex();
        k.sparse = a->issparse();
        k.ndims = checks::narrow(a->ndims(), refuse());
        return k;
    }
    void class_name(Arg a, char* out, size_t size) const {
        std::snprintf(out, size, "%s", a->class_name().c_str());
    }
    bool is_empty(Arg a) const { return a->isempty(); }
    bool is_cell(Arg a) const { return a->iscell(); }
    checks::Dims dims(Arg a) const {
        const dim_vector dv = a->dims();
        return checks::first_two(
            dv.ndims(), [&dv](int i) { return dv(i); }, refuse());
    }
    uint64_t numel(Arg a) const { return static_cast<uint64_t>(a->numel()); }
    // The entry itself, inside the list's storage, which the argument owns.
    // Reaching that storage copies the list's header (a count and a
    // dimension vector on the heap), so the last few lists' storage is kept
    // at hand: a call reads each of its lists entry by entry.
    Arg cell(Arg list, int32_t i) const {
        for (const ListSlot& s : lists_)
            if (s.list == list) return s.data + i;
        ListSlot& s = lists_[next_slot_++ % kListSlots];
        s.list = list;
        s.data = list->cell_value().data();
        return s.data + i;
    }
    // The first element as a double; of a sparse value its first stored
    // element, 0 when it stores none.
    double scalar(Arg a) const {
        if (a->issparse()) {
            const void* data = a->mex_get_data();
            if (!data || a->nnz() == 0) return 0.0;
            if (a->islogical()) return *static_cast<const bool*>(data);
            return *static_cast<const double*>(data);
        }
        return a->scalar_value(true);
    }
    double* data(Arg a) {
        if (const void* p = a->mex_get_data())
            return const_cast<double*>(static_cast<const double*>(p));
        kept_.push_back(a->array_value());
        return kept_.back().fortran_vec();
    }

    void poll() const { octave_quit(); }

    const char* function() const { return function_; }

  private:
    Refuse refuse() const { return Refuse{function_}; }

    // A list's entries stay where they are for the whole call: the
    // arguments are not modified while the function runs.
    struct ListSlot {
        Arg list = nullptr;
        const octave_value* data = nullptr;
    };
    static constexpr unsigned kListSlots = 8;

    const char* function_;
    std::vector<NDArray> kept_;
    mutable ListSlot lists_[kListSlots];
    mutable unsigned next_slot_ = 0;
};

// Asks the system to back a large block of output with huge pages where it
// can (Linux's madvise, in its default "madvise" mode): a fresh block then
// takes a page fault per 2 MiB rather than per 4 kB when the kernel first
// writes it. Only blocks of kHugeBlock bytes and more are named: the C
// library's allocator maps each of those on its own and unmaps it when it
// is freed, so the advice never outlives the block (advice on memory the
// allocator keeps would stay with the process, split its heap into more
// mappings at every call and let the system gather huge pages there), and
// only whole 2 MiB pages inside the block, so nothing outside the memory
// the call owns is touched. TABLEFOLD_HUGE_PAGES=0, read at each call,
// leaves blocks to the system's default.
inline constexpr size_t kHugeBlock = size_t(32) << 20; // glibc's largest mmap threshold

inline void advise_huge_pages(void* block, size_t bytes) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHuge = uintptr_t(1) << 21;
    if (bytes < kHugeBlock) return;
    const char* const setting = std::getenv("TABLEFOLD_HUGE_PAGES");
    if (setting != nullptr && std::strcmp(setting, "0") == 0) return;
    const uintptr_t at = reinterpret_cast<uintptr_t>(block);
    const uintptr_t first = (at + kHuge - 1) & ~(kHuge - 1);
    const uintptr_t past = (at + bytes) & ~(kHuge - 1);
    if (past > first) madvise(reinterpret_cast<void*>(first), past - first, MADV_HUGEPAGE);
#else
    static_cast<void>(block);
    static_cast<void>(bytes);
#endif
}

// A double matrix whose elements the kernel writes before Octave sees it:
// its memory is adopted by the array that takes it, without a fill pass.
// Octave stores a 1 x 1 result as a scalar, copying the value, so a matrix
// becomes an Octave value only once it is written (see `value`).
class Output {
  public:
    Output() = default;
    Output(int32_t rows, int32_t cols) : rows_(rows), cols_(cols) {
        const size_t n = static_cast<size_t>(rows) * static_cast<size_t>(cols);
        double* p = std::allocator<double>().allocate(n);
        advise_huge_pages(p, n * sizeof(double));
        try {
            array_ = Array<double>(p, dim_vector(rows, cols));
        } catch (...) {
            std::allocator<double>().deallocate(p, n);
            throw;
        }
    }
    DoubleMatrix view() { return DoubleMatrix{array_.fortran_vec(), rows_, cols_}; }
    octave_value value() const { return octave_value(NDArray(array_)); }
    // The matrix as a value before it is written: a matrix even when it is
    // 1 x 1 (Outputs::finish turns those into scalars once written).
    octave_value matrix() const { return octave_value(new octave_matrix(NDArray(array_))); }

  private:
    Array<double> array_;
    int32_t rows_ = 0;
    int32_t cols_ = 0;
};

// One output list: entries are created in order, each written by the kernel
// before the next is created; `finish` stores the last one.
class OutputList {
  public:
    explicit OutputList(int32_t n) : cell_(dim_vector(n, 1)) {}

    DoubleMatrix create(int32_t i, int32_t rows, int32_t cols) {
        flush();
        pending_ = Output(rows, cols);
        at_ = i;
        return pending_.view();
    }
    const Cell& finish() {
        flush();
        return cell_;
    }

  private:
    void flush() {
        if (at_ < 0) return;
        cell_(at_) = pending_.value();
        pending_ = Output();
        at_ = -1;
    }

    Cell cell_;
    Output pending_;
    int32_t at_ = -1;
};

// One output list whose entries are all created first, on the calling
// thread, and written afterwards, by any thread, through `data`. The list
// owns them from their creation, so a call that stops frees them.
class Outputs {
  public:
    explicit Outputs(int32_t n) : cell_(dim_vector(n, 1)), data_(static_cast<size_t>(n)) {}

    DoubleMatrix create(int32_t i, int32_t rows, int32_t cols) {
        Output out(rows, cols);
        const DoubleMatrix view = out.view();
        cell_(i) = out.matrix();
        data_[static_cast<size_t>(i)] = view.data;
        if (view.elements() == 1) singles_.push_back(i);
        return view;
    }
    double* data(int32_t i) const { return data_[static_cast<size_t>(i)]; }
    const Cell& finish() {
        for (const int32_t i : singles_)
            cell_(i).maybe_mutate();
        return cell_;
    }

  private:
    Cell cell_;
    std::vector<double*> data_;
    std::vector<int32_t> singles_;
};

// Runs the body of a native function: Octave's own errors and interrupts
// pass through; out of memory and any other C++ exception become an Octave
// error, after the body's objects have freed what they held.
template <class Body> octave_value_list guarded(Body body) {
    try {
        return body();
    } catch (const octave::execution_exception&) {
        throw;
    } catch (const octave::interrupt_exception&) {
        throw;
    } catch (const octave::exit_exception&) {
        throw;
    } catch (const std::bad_alloc&) {
        error_with_id("Octave:bad-alloc",
                      "out of memory or dimension too large for Octave's index type");
    } catch (const std::exception& e) {
        error("%s", e.what());
    }
}

// The arguments of a call as the checks address them: argument k, or null
// past the last one (the checks test the count before they look).
class Args {
  public:
    explicit Args(const octave_value_list& args) : count_(args.length()) {
        for (int k = 0; k < kMax; ++k)
            p_[k] = k < count_ ? &args(k) : nullptr;
    }
    int count() const { return count_; }
    const octave_value* const* get() const { return p_; }

  private:
    static constexpr int kMax = 6; // the most any plug-in takes
    int count_;
    const octave_value* p_[kMax];
};

// The frame of every native call of `function`, within guarded: its host
// accessor and arguments, the family's input checks check(h, nargout,
// count, arguments, checked), which fill `checked` (a Checked), the first
// fault reported; then work(h, a, checked) gives the outputs.
template <class Checked, class Check, class Work>
octave_value_list checked_call(const char* function, const octave_value_list& args, int nargout,
                               Check check, Work work) {
    return guarded([&] {
        Access h(function);
        const Args a(args);
        Checked checked;
        if (const checks::Fault f = check(h, nargout, a.count(), a.get(), checked))
            report(function, f);
        return work(h, a, checked);
    });
}

// Lets Ctrl-C end a long call.
inline void poll() {
    octave_quit();
}

// The threads for a call of `work`, `usual` the kernel's least work for a
// second thread (see threads::for_work).
inline int threads_for_work(int64_t work, int64_t usual) {
    return threads::for_work(work, usual, threads::for_call());
}

} // namespace native

#endif
