# The README's commands. Every target installs what is missing first (as root).
BUILD ?= build
BUILD_ASAN ?= build-asan
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
ifdef CI
WERROR := -DBREVLOAD_WERROR=ON
endif

.PHONY: all deps build test asan bench demo gui e2e windows clean

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

bench: build
	$(BUILD)/bench/brevload-bench

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) build-windows
