// SPDX-License-Identifier: BSD-3-Clause
// The emulated host. See emulated_host.h for what it checks.
#include "emulated_host.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <unordered_map>

#if defined(__SANITIZE_ADDRESS__)
#define MEXHOST_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MEXHOST_ASAN 1
#endif
#endif
#ifdef MEXHOST_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace {

constexpr uint64_t kMagic = 0x6d78417272617921ULL; // "mxArray!"
constexpr size_t kGuard = 64;                      // bytes before and after every data block
constexpr unsigned char kGuardByte = 0xA5;

enum class Origin { Harness, Plugin };

} // namespace

struct mxArray_tag {
    // What every host call reads comes first, within one cache line: the
    // handle check, the class, the data address and the entries.
    uint64_t magic = kMagic;
    unsigned char* block = nullptr; // guard, data, guard
    mxClassID cls = mxDOUBLE_CLASS;
    Origin origin = Origin::Harness;
    bool dead = false; // destroyed by the plug-in; kept until the call ends
    bool complex = false;
    bool sparse = false;
    std::vector<mxArray*> cells; // entries of a cell array (null: never set)
    int serial = 0;              // creation number within a call (plug-in arrays)
    std::vector<int> dims{0, 0}; // at least two
    size_t elem_size = 8;
    size_t data_bytes = 0;     // real part (and imaginary part, when complex)
    mxArray* parent = nullptr; // the created cell that holds this array
    int held = 0;              // times reached from the output slots (end of a call)

    unsigned char* data() const { return block + kGuard; }
    size_t elements() const {
        size_t n = 1;
        for (int d : dims)
            n *= static_cast<size_t>(d);
        return n;
    }
};

namespace emu {
struct HostAbort {}; // a misuse the plug-in cannot continue from
} // namespace emu

namespace {

struct HostState {
    std::vector<mxArray*> created; // plug-in arrays of this call, tombstones included
    std::vector<std::string> violations;
    bool tracing = false;
    std::vector<std::string> trace;
    std::unordered_map<const mxArray*, std::string> names;
    mxArray** slots = nullptr;
    int nslots = 0;
    size_t bytes_created = 0;
    size_t memory_limit = size_t(6) << 30;
    bool thorough = true;     // input snapshots and guard scans
    bool host_failed = false; // the host itself ended the call (out of memory)
};

HostState& state() {
    static HostState s;
    return s;
}

size_t class_size(mxClassID cls) {
    switch (cls) {
    case mxLOGICAL_CLASS:
    case mxINT8_CLASS:
    case mxUINT8_CLASS:
        return 1;
    case mxCHAR_CLASS:
    case mxINT16_CLASS:
    case mxUINT16_CLASS:
        return 2;
    case mxSINGLE_CLASS:
    case mxINT32_CLASS:
    case mxUINT32_CLASS:
        return 4;
    case mxDOUBLE_CLASS:
    case mxINT64_CLASS:
    case mxUINT64_CLASS:
        return 8;
    default:
        return 0;
    }
}

const char* class_name(mxClassID cls) {
    static const char* const names[] = {"unknown", "cell",           "struct", "logical", "char",
                                        "void",    "double",         "single", "int8",    "uint8",
                                        "int16",   "uint16",         "int32",  "uint32",  "int64",
                                        "uint64",  "function_handle"};
    const int i = static_cast<int>(cls);
    return (i >= 0 && i <= 16) ? names[i] : "unknown";
}

// The first element of an array's data as a double, read as the class's type
// (the data need not be aligned for it).
template <class T> double element_as_double(const unsigned char* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return static_cast<double>(v);
}

// How mxGetScalar reads each class, indexed by class ID as class_name's names
// (logical as uint8, char as uint16); none for a class without numbers.
using ElementReader = double (*)(const unsigned char*);
const ElementReader element_readers[] = {
    nullptr,                     // unknown
    nullptr,                     // cell
    nullptr,                     // struct
    element_as_double<uint8_t>,  // logical
    element_as_double<uint16_t>, // char
    nullptr,                     // void
    element_as_double<double>,   // double
    element_as_double<float>,    // single
    element_as_double<int8_t>,   // int8
    element_as_double<uint8_t>,  // uint8
    element_as_double<int16_t>,  // int16
    element_as_double<uint16_t>, // uint16
    element_as_double<int32_t>,  // int32
    element_as_double<uint32_t>, // uint32
    element_as_double<int64_t>,  // int64
    element_as_double<uint64_t>, // uint64
    nullptr                      // function_handle
};

void poison(unsigned char* p, size_t n, bool on) {
#ifdef MEXHOST_ASAN
    if (on)
        ASAN_POISON_MEMORY_REGION(p, n);
    else
        ASAN_UNPOISON_MEMORY_REGION(p, n);
#else
    (void)p;
    (void)n;
    (void)on;
#endif
}

void allocate_data(mxArray* a) {
    const size_t n = a->elements() * a->elem_size * (a->complex ? 2 : 1);
    a->data_bytes = n;
    a->block = static_cast<unsigned char*>(std::calloc(1, n + 2 * kGuard));
    if (!a->block) throw std::bad_alloc();
    std::memset(a->block, kGuardByte, kGuard);
    std::memset(a->block + kGuard + n, kGuardByte, kGuard);
    poison(a->block, kGuard, true);
    poison(a->block + kGuard + n, kGuard, true);
}

bool guards_intact(const mxArray* a) {
    if (!a->block) return true;
    const unsigned char* tail = a->block + kGuard + a->data_bytes;
    poison(a->block, kGuard, false);
    poison(const_cast<unsigned char*>(tail), kGuard, false);
    bool ok = true;
    for (size_t i = 0; i < kGuard; ++i)
        ok = ok && a->block[i] == kGuardByte && tail[i] == kGuardByte;
    poison(a->block, kGuard, true);
    poison(const_cast<unsigned char*>(tail), kGuard, true);
    return ok;
}

mxArray* new_array(mxClassID cls, const std::vector<int>& dims, bool complex = false) {
    auto* a = new mxArray_tag;
    a->cls = cls;
    a->complex = complex;
    a->dims = dims;
    while (a->dims.size() < 2)
        a->dims.push_back(1);
    if (cls == mxCELL_CLASS) {
        a->elem_size = 0;
        a->cells.assign(a->elements(), nullptr);
    } else {
        a->elem_size = class_size(cls);
    }
    allocate_data(a); // cells get an empty guarded block too
    return a;
}

void free_array(mxArray* a) {
    if (!a) return;
    for (mxArray* e : a->cells)
        free_array(e);
    if (a->block) {
        poison(a->block, a->data_bytes + 2 * kGuard, false);
        std::free(a->block);
    }
    a->magic = 0;
    delete a;
}

std::string name_of(const mxArray* a) {
    if (!a) return "NULL";
    auto& s = state();
    auto it = s.names.find(a);
    if (it != s.names.end()) return it->second;
    if (a->origin == Origin::Plugin) return "#" + std::to_string(a->serial);
    return "input";
}

void violation(const std::string& what) {
    state().violations.push_back(what);
}

[[noreturn]] void abort_call(const std::string& what) {
    violation(what);
    throw emu::HostAbort{};
}

// Every handle the plug-in passes must be a live array.
const mxArray* live(const mxArray* a, const char* op) {
    if (!a) abort_call(std::string(op) + ": null array handle");
    if (a->magic != kMagic) abort_call(std::string(op) + ": not an array handle");
    if (a->dead) abort_call(std::string(op) + ": " + name_of(a) + " used after mxDestroyArray");
    return a;
}

void trace(const std::string& line) {
    auto& s = state();
    if (s.tracing) s.trace.push_back(line);
}

std::string slots_text() {
    auto& s = state();
    std::string t = "{slots";
    for (int i = 0; i < s.nslots; ++i)
        t += " " + (s.slots[i] ? name_of(s.slots[i]) : "-");
    return t + "}";
}

mxArray* create(mxClassID cls, int rows, int cols, bool complex, const char* op) {
    auto& s = state();
    if (rows < 0 || cols < 0)
        abort_call(std::string(op) + ": negative size " + std::to_string(rows) + " x " +
                   std::to_string(cols));
    const size_t elem = cls == mxCELL_CLASS ? sizeof(void*) : class_size(cls);
    const size_t bytes = size_t(rows) * size_t(cols) * elem * (complex ? 2 : 1);
    if (bytes > s.memory_limit || s.bytes_created + bytes > s.memory_limit) {
        // Like MATLAB, the host reports exhaustion itself and then frees what
        // the plug-in had created: the plug-in never gets control back.
        s.host_failed = true;
        throw emu::HostError{"MATLAB:nomem", "Out of memory."};
    }
    std::string before = s.tracing ? slots_text() : std::string();
    mxArray* a = new_array(cls, {rows, cols}, complex);
    a->origin = Origin::Plugin;
    s.created.push_back(a);
    a->serial = static_cast<int>(s.created.size());
    s.bytes_created += bytes;
    if (s.tracing)
        trace(std::string(op) + "(" + std::to_string(rows) + "," + std::to_string(cols) + ") -> " +
              name_of(a) + " " + before);
    return a;
}

void name_inputs(const mxArray* a, const std::string& name) {
    if (!a) return;
    state().names[a] = name;
    for (size_t i = 0; i < a->cells.size(); ++i)
        name_inputs(a->cells[i], name + "{" + std::to_string(i) + "}");
}

void serialize(const mxArray* a, std::string& out) {
    if (!a) {
        out += "N";
        return;
    }
    out += "A";
    out += std::to_string(a->cls) + (a->complex ? "c" : "r") + (a->sparse ? "s" : "f");
    for (int d : a->dims)
        out += ":" + std::to_string(d);
    out += "|";
    out.append(reinterpret_cast<const char*>(a->data()), a->data_bytes);
    for (const mxArray* e : a->cells)
        serialize(e, out);
}

// Checks the guard zones of an input and of everything it holds; the path
// of a damaged entry is spelled out only when there is one.
void check_guards_recursive(const mxArray* a, const std::string& what) {
    if (!a) return;
    if (!guards_intact(a)) violation("write outside the data of " + what);
    for (size_t i = 0; i < a->cells.size(); ++i)
        if (a->cells[i] && (a->cells[i]->block || !a->cells[i]->cells.empty()))
            check_guards_recursive(a->cells[i], what + "{" + std::to_string(i) + "}");
}

// Marks `a` and everything it holds as reached from an output slot.
void mark(mxArray* a, const std::string& where) {
    if (!a) return;
    if (a->magic != kMagic) {
        violation(where + " holds an invalid handle");
        return;
    }
    if (a->dead) {
        violation(where + " holds " + name_of(a) + ", which was destroyed");
        return;
    }
    if (a->origin != Origin::Plugin) {
        violation(where + " holds an input array; outputs must be created by the plug-in");
        return;
    }
    if (++a->held > 1) {
        violation(name_of(a) + " is held twice (" + where + ")");
        return;
    }
    for (size_t i = 0; i < a->cells.size(); ++i)
        if (a->cells[i]) mark(a->cells[i], where);
}

} // namespace

// ---- C entry points ----------------------------------------------------------

extern "C" {

double* mxGetPr(const mxArray* a) {
    live(a, "mxGetPr");
    if (a->cls == mxCELL_CLASS || a->cls == mxSTRUCT_CLASS)
        abort_call("mxGetPr on " + name_of(a) + ", a " + class_name(a->cls) + " array");
    if (a->cls != mxDOUBLE_CLASS && a->origin != Origin::Plugin)
        abort_call("mxGetPr on " + name_of(a) + ", a " + class_name(a->cls) +
                   " input read as doubles");
    if (state().tracing) trace("mxGetPr(" + name_of(a) + ")");
    return reinterpret_cast<double*>(a->data());
}

const int* mxGetDimensions_700(const mxArray* a) {
    live(a, "mxGetDimensions_700");
    if (state().tracing) trace("mxGetDimensions_700(" + name_of(a) + ")");
    return a->dims.data();
}

int mxGetNumberOfDimensions_700(const mxArray* a) {
    live(a, "mxGetNumberOfDimensions_700");
    return static_cast<int>(a->dims.size());
}

size_t mxGetNumberOfElements(const mxArray* a) {
    live(a, "mxGetNumberOfElements");
    return a->elements();
}

mxArray* mxGetCell_700(const mxArray* cell, int index) {
    live(cell, "mxGetCell_700");
    if (cell->cls != mxCELL_CLASS)
        abort_call("mxGetCell_700 on " + name_of(cell) + ", a " + class_name(cell->cls) + " array");
    if (index < 0 || size_t(index) >= cell->cells.size())
        abort_call("mxGetCell_700(" + name_of(cell) + "," + std::to_string(index) +
                   "): index outside the " + std::to_string(cell->cells.size()) + " entries");
    if (state().tracing)
        trace("mxGetCell_700(" + name_of(cell) + "," + std::to_string(index) + ")");
    return cell->cells[size_t(index)];
}

void mxSetCell_700(mxArray* cell, int index, mxArray* value) {
    live(cell, "mxSetCell_700");
    if (cell->cls != mxCELL_CLASS)
        abort_call("mxSetCell_700 on " + name_of(cell) + ", a " + class_name(cell->cls) + " array");
    if (cell->origin != Origin::Plugin) abort_call("mxSetCell_700 on input " + name_of(cell));
    if (index < 0 || size_t(index) >= cell->cells.size())
        abort_call("mxSetCell_700(" + name_of(cell) + "," + std::to_string(index) +
                   "): index outside the " + std::to_string(cell->cells.size()) + " entries");
    if (value) {
        live(value, "mxSetCell_700");
        if (value->origin != Origin::Plugin)
            abort_call("mxSetCell_700 stores input " + name_of(value) + " in a cell");
        if (value->parent) abort_call("mxSetCell_700 stores " + name_of(value) + " in two cells");
        value->parent = cell;
    }
    mxArray*& entry = cell->cells[size_t(index)];
    if (entry) entry->parent = nullptr; // replaced: the plug-in owns it again
    entry = value;
    if (state().tracing)
        trace("mxSetCell_700(" + name_of(cell) + "," + std::to_string(index) + "," +
              name_of(value) + ")");
}

mxArray* mxCreateCellMatrix_700(int rows, int cols) {
    return create(mxCELL_CLASS, rows, cols, false, "mxCreateCellMatrix_700");
}

mxArray* mxCreateDoubleMatrix_700(int rows, int cols, mxComplexity flag) {
    return create(mxDOUBLE_CLASS, rows, cols, flag == mxCOMPLEX, "mxCreateDoubleMatrix_700");
}

mxArray* mxCreateNumericMatrix_700(int rows, int cols, mxClassID cls, mxComplexity flag) {
    if (class_size(cls) == 0) abort_call("mxCreateNumericMatrix_700 with a non-numeric class");
    return create(cls, rows, cols, flag == mxCOMPLEX, "mxCreateNumericMatrix_700");
}

void mxDestroyArray(mxArray* a) {
    live(a, "mxDestroyArray");
    if (a->origin != Origin::Plugin) abort_call("mxDestroyArray on input " + name_of(a));
    if (a->parent) abort_call("mxDestroyArray on " + name_of(a) + ", which a cell still holds");
    if (state().tracing) trace("mxDestroyArray(" + name_of(a) + ")");
    // The array and its entries become tombstones until the call ends, so a
    // later use is caught rather than reading freed memory.
    struct Kill {
        static void run(mxArray* x) {
            if (!x) return;
            x->dead = true;
            for (mxArray* e : x->cells)
                run(e);
        }
    };
    Kill::run(a);
    for (mxArray* e : a->cells)
        if (e) e->parent = nullptr;
}

bool mxIsEmpty(const mxArray* a) {
    live(a, "mxIsEmpty");
    if (state().tracing) trace("mxIsEmpty(" + name_of(a) + ")");
    return a->elements() == 0;
}

bool mxIsCell(const mxArray* a) {
    live(a, "mxIsCell");
    if (state().tracing) trace("mxIsCell(" + name_of(a) + ")");
    return a->cls == mxCELL_CLASS;
}

bool mxIsDouble(const mxArray* a) {
    live(a, "mxIsDouble");
    return a->cls == mxDOUBLE_CLASS;
}

bool mxIsComplex(const mxArray* a) {
    live(a, "mxIsComplex");
    return a->complex;
}

bool mxIsSparse(const mxArray* a) {
    live(a, "mxIsSparse");
    return a->sparse;
}

bool mxIsNumeric(const mxArray* a) {
    live(a, "mxIsNumeric");
    return a->cls >= mxDOUBLE_CLASS && a->cls <= mxUINT64_CLASS;
}

bool mxIsLogical(const mxArray* a) {
    live(a, "mxIsLogical");
    return a->cls == mxLOGICAL_CLASS;
}

const char* mxGetClassName(const mxArray* a) {
    live(a, "mxGetClassName");
    return class_name(a->cls);
}

double mxGetScalar(const mxArray* a) {
    live(a, "mxGetScalar");
    if (state().tracing) trace("mxGetScalar(" + name_of(a) + ")");
    if (a->elements() == 0 || a->cls == mxCELL_CLASS || a->cls == mxSTRUCT_CLASS) return 0.0;
    const int i = static_cast<int>(a->cls);
    const ElementReader read = (i >= 0 && i <= 16) ? element_readers[i] : nullptr;
    return read ? read(a->data()) : 0.0;
}

bool mxIsNaN(double value) {
    return std::isnan(value);
}

double mxGetNaN(void) {
    return std::numeric_limits<double>::quiet_NaN();
}

} // extern "C"

// ---- Harness -----------------------------------------------------------------

namespace emu {

void ArrayDeleter::operator()(mxArray* a) const {
    free_array(a);
}

ArrayPtr matrix(int rows, int cols, const std::vector<double>& values) {
    if (values.size() != size_t(rows) * size_t(cols))
        throw std::invalid_argument("emu::matrix: " + std::to_string(values.size()) +
                                    " values for " + std::to_string(rows) + " x " +
                                    std::to_string(cols));
    ArrayPtr a(new_array(mxDOUBLE_CLASS, {rows, cols}));
    if (!values.empty()) std::memcpy(a->data(), values.data(), values.size() * sizeof(double));
    return a;
}

ArrayPtr zeros(int rows, int cols) {
    return ArrayPtr(new_array(mxDOUBLE_CLASS, {rows, cols}));
}

ArrayPtr column(const std::vector<double>& values) {
    return matrix(static_cast<int>(values.size()), 1, values);
}

ArrayPtr row(const std::vector<double>& values) {
    return matrix(1, static_cast<int>(values.size()), values);
}

ArrayPtr scalar(double value) {
    return matrix(1, 1, {value});
}

ArrayPtr cell(int rows, int cols, std::vector<ArrayPtr> entries) {
    if (entries.size() > size_t(rows) * size_t(cols))
        throw std::invalid_argument("emu::cell: too many entries");
    ArrayPtr a(new_array(mxCELL_CLASS, {rows, cols}));
    for (size_t i = 0; i < entries.size(); ++i) {
        a->cells[i] = entries[i].release();
        if (a->cells[i]) a->cells[i]->parent = a.get();
    }
    return a;
}

ArrayPtr cell_column(std::vector<ArrayPtr> entries) {
    const int n = static_cast<int>(entries.size());
    return cell(n, 1, std::move(entries));
}

ArrayPtr char_array(const std::string& text) {
    ArrayPtr a(new_array(mxCHAR_CLASS, {1, static_cast<int>(text.size())}));
    for (size_t i = 0; i < text.size(); ++i) {
        const uint16_t c = static_cast<unsigned char>(text[i]);
        std::memcpy(a->data() + 2 * i, &c, 2);
    }
    return a;
}

ArrayPtr logical(int rows, int cols) {
    return ArrayPtr(new_array(mxLOGICAL_CLASS, {rows, cols}));
}

ArrayPtr numeric(mxClassID cls, int rows, int cols) {
    if (class_size(cls) == 0) throw std::invalid_argument("emu::numeric: not a numeric class");
    return ArrayPtr(new_array(cls, {rows, cols}));
}

ArrayPtr complex_matrix(int rows, int cols) {
    return ArrayPtr(new_array(mxDOUBLE_CLASS, {rows, cols}, true));
}

ArrayPtr sparse_matrix(int rows, int cols) {
    ArrayPtr a(new_array(mxDOUBLE_CLASS, {rows, cols}));
    a->sparse = true;
    return a;
}

ArrayPtr nd_double(const std::vector<int>& dims) {
    return ArrayPtr(new_array(mxDOUBLE_CLASS, dims));
}

ArrayPtr copy(const mxArray* a) {
    if (!a) return nullptr;
    ArrayPtr c(new_array(a->cls, a->dims, a->complex));
    c->sparse = a->sparse;
    if (a->data_bytes) std::memcpy(c->data(), a->data(), a->data_bytes);
    for (size_t i = 0; i < a->cells.size(); ++i) {
        c->cells[i] = copy(a->cells[i]).release();
        if (c->cells[i]) c->cells[i]->parent = c.get();
    }
    return c;
}

bool is_cell(const mxArray* a) {
    return a && a->cls == mxCELL_CLASS;
}
mxClassID class_of(const mxArray* a) {
    return a->cls;
}
std::vector<int> dims_of(const mxArray* a) {
    return a->dims;
}

Matrix read(const mxArray* a) {
    if (!a) return Matrix{};
    if (a->cls != mxDOUBLE_CLASS || a->dims.size() != 2)
        throw std::invalid_argument("emu::read: not a double matrix");
    Matrix m;
    m.rows = a->dims[0];
    m.cols = a->dims[1];
    m.values.resize(a->elements());
    if (!m.values.empty()) std::memcpy(m.values.data(), a->data(), m.values.size() * 8);
    return m;
}

std::vector<const mxArray*> entries(const mxArray* a) {
    if (!is_cell(a)) throw std::invalid_argument("emu::entries: not a cell array");
    return std::vector<const mxArray*>(a->cells.begin(), a->cells.end());
}

bool same_array(const mxArray* a, const mxArray* b) {
    std::string x, y;
    serialize(a, x);
    serialize(b, y);
    return x == y;
}

std::string describe(const mxArray* a) {
    if (!a) return "[]";
    std::string t;
    for (size_t i = 0; i < a->dims.size(); ++i)
        t += (i ? "x" : "") + std::to_string(a->dims[i]);
    t += std::string(" ") + class_name(a->cls);
    if (a->cls == mxCELL_CLASS) {
        t += " {";
        for (size_t i = 0; i < a->cells.size(); ++i)
            t += (i ? "; " : "") + describe(a->cells[i]);
        return t + "}";
    }
    if (a->cls == mxDOUBLE_CLASS && !a->complex && a->elements() <= 64) {
        t += " [";
        const double* v = reinterpret_cast<const double*>(a->data());
        for (size_t i = 0; i < a->elements(); ++i) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%s%g", i ? " " : "", v[i]);
            t += buf;
        }
        t += "]";
    }
    return t;
}

// Loading a plug-in file and finding its entry, as the host does: a DLL on
// Windows (its host functions imported from libmx.dll and libmex.dll, which
// the emulated host is), a shared object elsewhere.
#if defined(_WIN32)
Plugin::Plugin(const std::string& path) {
    const HMODULE module = LoadLibraryA(path.c_str());
    if (!module)
        throw std::runtime_error("cannot load plug-in: " + path + " (error " +
                                 std::to_string(GetLastError()) + ")");
    const FARPROC sym = GetProcAddress(module, "mexFunction");
    if (!sym) {
        FreeLibrary(module);
        throw std::runtime_error("plug-in " + path + " has no mexFunction");
    }
    handle_ = module;
    entry_ = reinterpret_cast<void (*)(int, mxArray**, int, const mxArray**)>(
        reinterpret_cast<void (*)()>(sym));
}

Plugin::~Plugin() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
}
#else
Plugin::Plugin(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(std::string("cannot load plug-in: ") + dlerror());
    void* sym = dlsym(handle_, "mexFunction");
    if (!sym) {
        dlclose(handle_);
        throw std::runtime_error("plug-in " + path + " has no mexFunction");
    }
    entry_ = reinterpret_cast<void (*)(int, mxArray**, int, const mxArray**)>(sym);
}

Plugin::~Plugin() {
    if (handle_) dlclose(handle_);
}
#endif

void error_call(const std::string& traced, const std::string& id, const std::string& message) {
    trace(traced);
    throw HostError{id, message};
}

CallResult Plugin::call(int nlhs, const std::vector<const mxArray*>& inputs, int slots,
                        bool trace_calls) const {
    auto& s = state();
    CallResult result;
    if (slots < 0) slots = nlhs > 1 ? nlhs : 1;

    // Snapshots of the inputs, to prove afterwards that none changed.
    const bool thorough = s.thorough;
    std::vector<ArrayPtr> before;
    if (thorough)
        for (const mxArray* in : inputs)
            before.push_back(copy(in));

    // The slots array carries sentinels past its end, to catch a write beyond the slots.
    constexpr int kSentinels = 4;
    mxArray* const sentinel = reinterpret_cast<mxArray*>(uintptr_t(0x5107));
    std::vector<mxArray*> plhs(size_t(slots) + kSentinels, nullptr);
    for (int i = 0; i < kSentinels; ++i)
        plhs[size_t(slots + i)] = sentinel;
    std::vector<const mxArray*> prhs(inputs.begin(), inputs.end());
    prhs.push_back(nullptr); // never read by a correct plug-in

    const size_t memory_limit = s.memory_limit;
    s = HostState{};
    s.memory_limit = memory_limit;
    s.thorough = thorough;
    s.tracing = trace_calls;
    s.slots = plhs.data();
    s.nslots = slots;
    for (size_t i = 0; i < inputs.size(); ++i)
        name_inputs(inputs[i], "prhs[" + std::to_string(i) + "]");

    try {
        entry_(nlhs, plhs.data(), static_cast<int>(inputs.size()), prhs.data());
    } catch (const HostError& e) {
        result.failed = true;
        result.error_id = e.id;
        result.error_message = e.message;
    } catch (const HostAbort&) {
        result.failed = true;
        result.error_message = "(call aborted by the emulated host)";
    } catch (const std::exception& e) {
        violation(std::string("a C++ exception left mexFunction: ") + e.what());
        result.failed = true;
    } catch (...) {
        violation("an unknown C++ exception left mexFunction");
        result.failed = true;
    }

    for (int i = 0; i < kSentinels; ++i)
        if (plhs[size_t(slots + i)] != sentinel)
            violation("write past the " + std::to_string(slots) + " output slots");

    // Ownership: everything created is in a slot, held by a cell in a slot, or destroyed.
    for (int i = 0; i < slots; ++i)
        if (plhs[size_t(i)]) mark(plhs[size_t(i)], "plhs[" + std::to_string(i) + "]");
    for (mxArray* a : s.created) {
        if (!a->dead && !a->held && !s.host_failed) {
            if (!a->parent || a->parent->dead)
                violation("leak: " + name_of(a) + " (" + describe(a).substr(0, 80) +
                          ") was neither stored in an output nor destroyed");
            else if (!a->parent->held)
                violation("leak: " + name_of(a) + " is held by " + name_of(a->parent) +
                          ", which is not an output");
        }
        if (thorough && !guards_intact(a)) violation("write outside the data of " + name_of(a));
    }
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (thorough) check_guards_recursive(inputs[i], "prhs[" + std::to_string(i) + "]");
        if (thorough && !same_array(inputs[i], before[i].get()))
            violation("input prhs[" + std::to_string(i) + "] was changed");
    }

    // Hand the outputs over (on success) and free everything else: every
    // created array that is not adopted, each exactly once (entries are
    // detached first so that freeing a cell does not free them again).
    if (!result.failed && s.violations.empty()) {
        for (int i = 0; i < slots; ++i) {
            mxArray* a = plhs[size_t(i)];
            result.outputs.emplace_back(a);
            if (!a) continue;
            struct Adopt {
                static void run(mxArray* x) {
                    if (!x) return;
                    x->origin = Origin::Harness;
                    for (mxArray* e : x->cells)
                        run(e);
                }
            };
            Adopt::run(a);
            a->parent = nullptr;
        }
    }
    std::vector<mxArray*> doomed;
    for (mxArray* a : s.created) {
        a->held = 0;
        if (a->origin == Origin::Plugin) doomed.push_back(a);
    }
    for (mxArray* a : doomed)
        a->cells.clear();
    for (mxArray* a : doomed)
        free_array(a);
    s.created.clear();

    result.violations = std::move(s.violations);
    result.trace = std::move(s.trace);
    const size_t limit = s.memory_limit;
    s = HostState{};
    s.memory_limit = limit;
    s.thorough = thorough;
    return result;
}

std::string plugin_path(const std::string& name) {
    return std::string(MEXHOST_PLUGIN_DIR) + "/" + name + MEXHOST_PLUGIN_SUFFIX;
}

void set_memory_limit(size_t bytes) {
    state().memory_limit = bytes;
}

void set_thorough_checks(bool on) {
    state().thorough = on;
}

} // namespace emu
