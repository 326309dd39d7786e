# The front door: `make demo` runs the main job, `make test` runs every test.
# Each first installs what is missing on Debian 12 (scripts/install-deps.sh; idempotent).

HOST  := build/host
WIN32 := build/win32
WIN64 := build/win64
ROOT  := $(CURDIR)
# Every build knows where the others are: the Windows builds use the host's qencode, and each
# quillpack (host, win32, win64) embeds both launcher stubs.
BUILD_DIRS := -DQUILL_HOST_BIN=$(ROOT)/$(HOST) -DQUILL_WIN32_BIN=$(ROOT)/$(WIN32) \
              -DQUILL_WIN64_BIN=$(ROOT)/$(WIN64)

.PHONY: all deps build host windows stubs pack-host test test-host test-wine test-static \
        test-artifacts e2e demo fuzz bench format clean

all: build

deps:
	@scripts/install-deps.sh

build: host windows pack-host

host: deps
	@test -f $(HOST)/build.ninja || CC=clang CXX=clang++ cmake -S . -B $(HOST) -G Ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo $(BUILD_DIRS)
	@cmake --build $(HOST)

# configure DIR TOOLCHAIN
configure = test -f $(1)/build.ninja || cmake -S . -B $(1) -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE=cmake/$(2) -DCMAKE_BUILD_TYPE=MinSizeRel $(BUILD_DIRS)

# Both architectures are built on every machine, whatever it can run. The stubs come first:
# quillpack.exe of either build embeds both.
stubs: host
	@$(call configure,$(WIN32),mingw-i686.cmake)
	@$(call configure,$(WIN64),mingw-x86_64.cmake)
	@cmake --build $(WIN32) --target quillstub
	@cmake --build $(WIN64) --target quillstub

windows: stubs
	@cmake --build $(WIN32)
	@cmake --build $(WIN64)

pack-host: windows
	@cmake --build $(HOST) --target quillpack

test: build
	@scripts/run-tests.sh

# Single levels, for a quicker loop: make test-host, make test-wine, make test-static,
# make e2e ARGS='-k manifest' [ARCH=x86|x64]
test-host: host
	@scripts/run-tests.sh host

test-wine: build
	@scripts/run-tests.sh wine

test-static: build
	@scripts/run-tests.sh static

test-artifacts: build
	@scripts/run-tests.sh artifacts

e2e: build
	@scripts/run-tests.sh e2e $(ARGS)

# Fuzzing for as long as asked: make fuzz FUZZ_SECONDS=3600 [FUZZ_TARGETS=options_fuzz]
fuzz: deps
	@scripts/run-fuzz.sh $(FUZZ_TARGETS)

# The benchmark behind docs/performance.md (about 20 minutes at full scale).
bench: build
	@scripts/install-deps.sh bench
	@scripts/bench.sh $(BENCH_ARGS)

demo: build
	@scripts/demo.sh

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
