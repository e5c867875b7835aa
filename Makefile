# make test: install what is missing, build everything and run every test.
# make demo: the same set-up, then the demo in a local machine root.
BUILD ?= build
JOBS ?= 2
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo bench package fuzz format clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DOMBRIX_WERROR=ON $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD)

# The Debian package of the installation (build/ombrix-ts_<version>_<arch>.deb).
package: build
	@cd $(BUILD) && cpack -G DEB

bench: build
	@scripts/bench.sh $(BUILD)

# libFuzzer builds with sanitizers (clang); run a target with e.g.
#   build-fuzz/fuzz-bin/fuzz_inifile -max_total_time=600 fuzz/corpus/inifile
fuzz: deps
	@command -v clang++ >/dev/null || { echo "fuzzing needs clang" >&2; exit 1; }
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DOMBRIX_FUZZ=ON -DOMBRIX_BENCH=OFF >/dev/null
	@cmake --build build-fuzz -j $(JOBS)

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) build-fuzz demo-root
