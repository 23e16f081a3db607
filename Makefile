# The README's commands. Every target installs what is missing first (as root).
BUILD ?= build
BUILD_ASAN ?= build-asan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
ifdef CI
WERROR := -DBREVLOAD_WERROR=ON
endif

.PHONY: all deps build test asan fuzz bench demo gui e2e windows windows-dist package format format-check clean

all: build

deps:
	scripts/install-deps core

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja $(WERROR) $(CMAKE_FLAGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The same tests under AddressSanitizer + UndefinedBehaviorSanitizer.
asan: deps
	cmake -S . -B $(BUILD_ASAN) -G Ninja $(WERROR) -DBREVLOAD_SANITIZE=ON -DBREVLOAD_BUILD_BENCH=OFF \
	      -DCMAKE_BUILD_TYPE=Debug $(CMAKE_FLAGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	ctest --test-dir $(BUILD_ASAN) --output-on-failure -j $(JOBS)

# Every libFuzzer target (tests/fuzz) for FUZZ_TIME seconds each, under ASan + UBSan.
FUZZ_TIME ?= 60
# A fixed FUZZ_SEED makes a run repeat the same inputs (CI uses one); empty means a new seed.
FUZZ_SEED ?=
fuzz:
	FUZZ_TIME=$(FUZZ_TIME) FUZZ_SEED=$(FUZZ_SEED) scripts/fuzz

bench: build
	$(BUILD)/bench/brevload-bench

# Makes a sample image and downloads it to four simulated devices, then reads one back.
demo: build
	scripts/demo

# The window with two simulated devices.
gui: build
	$(BUILD)/ui/brevload --simulate 2

# The portable core and the Windows backend, cross-built with MinGW-w64, tests under Wine.
windows:
	scripts/test-windows

# build-windows/brevload-<version>-win64.zip from `make windows`, then run from a fresh Wine prefix.
windows-dist:
	scripts/windows-dist

# The Linux backend against a real kernel USB stack in a QEMU guest.
e2e:
	scripts/e2e

# The Debian package (CPack) from the same build the tests ran on, checked by lintian:
# build/brevload_*.deb. help2man arrives with the package set, so look for it again.
package: deps
	scripts/install-deps package
	cmake -S . -B $(BUILD) -G Ninja $(WERROR) -UHELP2MAN $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)
	rm -f $(BUILD)/brevload_*.deb
	cd $(BUILD) && cpack -G DEB
	lintian --fail-on error $(BUILD)/brevload_*.deb

# Every C++ file in the style of .clang-format (Debian's clang-format 14).
FORMAT_FILES = git ls-files -z '*.cpp' '*.h'
format: deps
	$(FORMAT_FILES) | xargs -0 clang-format -i

format-check: deps
	$(FORMAT_FILES) | xargs -0 clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) build-windows
