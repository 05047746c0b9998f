# Entry points: `make demo` and `make test` do every set-up step themselves.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=

.PHONY: all deps build demo test test-asan build-arm64 test-arm64 package bench fuzz soak format format-check clean
ARM64_BUILD ?= build-arm64
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 300
FUZZ_TARGETS = fuzz_receive fuzz_interpreter fuzz_config fuzz_simulator fuzz_peer
SOAK_TICKS ?= 6000000
SOAK_SEED ?= 1

all: build

deps:
	@./scripts/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@./scripts/demo $(BUILD)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DRARAROZ_SANITIZE=ON -DRARAROZ_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

build-arm64:
	@./scripts/install-deps-arm64
	cmake -S . -B $(ARM64_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake -DRARAROZ_BENCH=OFF \
		-DRARAROZ_NATIVE_BUILD_DIR=$(CURDIR)/$(BUILD) $(CMAKE_ARGS)
	cmake --build $(ARM64_BUILD) -j $(JOBS)

# The end-to-end tests are the native build's, driving the arm64 service.
test-arm64: build build-arm64
	cd $(ARM64_BUILD) && ctest --output-on-failure -j $(JOBS)

# Debian packages for amd64 and arm64, into dist/.
package: build build-arm64
	cd $(BUILD) && cpack -G DEB -B $(CURDIR)/dist
	cd $(ARM64_BUILD) && cpack -G DEB -B $(CURDIR)/dist
	@ls -1 dist/*.deb

bench: build
	@./scripts/bench $(BUILD)

# Every fuzz target for FUZZ_SECONDS each under libFuzzer (clang, with
# AddressSanitizer and UndefinedBehaviorSanitizer); new coverage joins the
# corpus in tests/fuzz/corpus/.
fuzz: deps
	@./scripts/install-fuzz-deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -DRARAROZ_FUZZ=ON -DRARAROZ_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target $(FUZZ_TARGETS)
	./scripts/fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_TARGETS)

# The whole service in simulated time: SOAK_TICKS ticks of 100 ms (default a
# week) with a seeded random UI; a failure prints the seed and tick.
soak: build
	$(BUILD)/tests/soak/rararoz-soak --ticks $(SOAK_TICKS) --seed $(SOAK_SEED)

# Every C++ file git knows in the style of .clang-format; CI checks it.
SOURCES_TO_FORMAT = git ls-files '*.cpp' '*.h'
format: deps
	$(SOURCES_TO_FORMAT) | xargs clang-format -i

format-check: deps
	$(SOURCES_TO_FORMAT) | xargs clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(ARM64_BUILD) $(FUZZ_BUILD)
