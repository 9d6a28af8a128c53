# One-command entry points. `make demo` and `make test` set up what is
# missing on a fresh Debian machine, build, and run.
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?=

.PHONY: all build deps demo test clean

all: build

# Packages the build needs: compilers and CMake, GoogleTest, Google Benchmark,
# and GNU Octave with its development files (mkoctfile).
deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	scripts/octave-cli-quiet --eval "addpath('$(CURDIR)/$(BUILD)/octave'); run('$(CURDIR)/examples/demo.m');"

clean:
	rm -rf $(BUILD)
