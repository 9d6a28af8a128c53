# SPDX-License-Identifier: BSD-3-Clause
# One-command entry points. `make demo` and `make test` set up what is
# missing on a fresh Debian machine, build, and run.
BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
FUZZ_BUILD ?= build-fuzz
AARCH64_BUILD ?= build-aarch64
WINDOWS_BUILD ?= build-windows
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all build deps demo package test test-long test-sanitize test-aarch64 test-windows fuzz \
  fuzz-octave soak bench clean

all: build

# Packages the build needs: a C++ compiler, CMake, and GNU Octave with its
# development files (mkoctfile). The tests, the sanitizer and fuzzing runs and
# the benchmarks need more, and their targets install it (scripts/install-deps
# names what each purpose needs). Each target checks its purpose once per
# build folder: a stamp there (<folder>/.deps-<purpose>) records that
# everything was found, so later runs neither look again nor start Octave to
# look. `make deps` checks anew; `make clean` drops the stamps with the
# folders.
deps:
	@scripts/install-deps build

STAMPS := $(BUILD)/.deps-build $(BUILD)/.deps-test $(BUILD)/.deps-bench \
  $(SANITIZE_BUILD)/.deps-sanitize $(FUZZ_BUILD)/.deps-fuzz $(AARCH64_BUILD)/.deps-aarch64 \
  $(WINDOWS_BUILD)/.deps-windows
$(STAMPS): scripts/install-deps
	@scripts/install-deps $(patsubst .deps-%,%,$(@F))
	@mkdir -p $(@D) && touch $@

# The tests and benchmarks are built when GoogleTest and Google Benchmark are
# there; `make test` and `make bench` install them and switch them on.
$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: $(BUILD)/.deps-build $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

# The Octave package, $(BUILD)/tablefold-<version>.tar.gz: a tarball of
# sources, so nothing else is built for it.
package: $(BUILD)/.deps-build $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target octave_package
	@ls $(BUILD)/*.tar.gz

# make test runs every test but those labelled `long`: the slow reliability
# tests in full (the interrupt test's twenty rounds per plug-in, three
# passes of the exhausted-memory test, the cluster run of the MEX build),
# which make test-long runs. make test runs shorter forms of them.
test: $(BUILD)/.deps-test
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DMEX_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE long

test-long: $(BUILD)/.deps-test
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DMEX_TESTS=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -L long

demo: build
	scripts/octave-cli-quiet --eval "addpath('$(CURDIR)/$(BUILD)/octave'); tablefold_demo"

# The C++ test suite (emulated host, the real plug-in files, maskdiff) built
# with AddressSanitizer and UndefinedBehaviorSanitizer; any report fails it.
test-sanitize: $(SANITIZE_BUILD)/.deps-sanitize
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMEX_SANITIZE=ON \
	  -DMEX_OCTAVE=OFF -DMEX_BENCH=OFF
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && \
	  ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1 \
	  UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

# The C++ test suite (kernels, emulated host, maskdiff with its command-line
# table) cross-built for Linux on aarch64 and run under qemu's user-mode
# emulator, and for Windows on x86-64 (MinGW-w64) and run under Wine. A
# wineserver started first and stopped at the end serves every test (ctest
# would otherwise wait for the one the first test starts).
CROSS_FLAGS = -DCMAKE_BUILD_TYPE=Release -DMEX_OCTAVE=OFF -DMEX_TESTS=ON -DMEX_BENCH=OFF
test-aarch64: $(AARCH64_BUILD)/.deps-aarch64
	cmake -S . -B $(AARCH64_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake $(CROSS_FLAGS)
	cmake --build $(AARCH64_BUILD) -j $(JOBS)
	cd $(AARCH64_BUILD) && ctest --output-on-failure -j $(JOBS)

test-windows: $(WINDOWS_BUILD)/.deps-windows
	cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake $(CROSS_FLAGS)
	cmake --build $(WINDOWS_BUILD) -j $(JOBS)
	scripts/run-wine $(WINDOWS_BUILD) ctest --output-on-failure -j $(JOBS)

# Benchmarks: the plug-ins against the reference loops and against vectorised
# Octave code, also in fresh Octave processes as users run them, maskdiff
# against cmp and diff, and the machine's own figures; the report goes to
# docs/performance.md.
bench: $(BUILD)/.deps-bench
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DMEX_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	python3 bench/report.py --build $(BUILD)

# libFuzzer targets (clang, with ASan and UBSan), each run FUZZ_SECONDS.
FUZZ_SECONDS ?= 60
fuzz: $(FUZZ_BUILD)/.deps-fuzz
	cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DMEX_FUZZ=ON -DMEX_OCTAVE=OFF -DMEX_TESTS=OFF -DMEX_BENCH=OFF
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS)
	$(MAKE) fuzz-octave

# Octave reliability runs against the toolbox folders of $(BUILD): the
# native build (octave/) and the MEX build (octave-mex/).
# fuzz-octave calls every plug-in of both builds on the same DIFF_CALLS
# random argument lists and requires the same results, bit for bit, and the
# same errors; DIFF_SEED picks the
# lists and is printed, so a failure can be replayed. soak calls every
# plug-in SOAK_CALLS times in one session per build and checks memory and
# results.
DIFF_CALLS ?= 100000
DIFF_SEED ?= $(shell date +%s)
SOAK_CALLS ?= 100000
OCTAVE_TOOLBOXES = $(BUILD)/octave $(BUILD)/octave-mex
fuzz-octave: build
	tests/octave/reliability/run differential $(DIFF_SEED) $(DIFF_CALLS) $(OCTAVE_TOOLBOXES)

soak: build
	@for d in $(OCTAVE_TOOLBOXES); do tests/octave/reliability/run soak $$d $(SOAK_CALLS) || exit 1; done

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD) $(AARCH64_BUILD) $(WINDOWS_BUILD)
