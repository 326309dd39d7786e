# The front door: `make demo` runs the main job, `make test` runs every test.
# Each first installs what is missing on Debian 12 (scripts/install-deps.sh; idempotent).

HOST  := build/host
WIN32 := build/win32
ROOT  := $(CURDIR)

.PHONY: all deps build host win32 pack-host test test-host test-wine test-static e2e demo fuzz bench format clean

all: build

deps:
	@scripts/install-deps.sh

build: host win32 pack-host

host: deps
	@test -f $(HOST)/build.ninja || CC=clang CXX=clang++ cmake -S . -B $(HOST) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQUILL_WIN32_BIN=$(ROOT)/$(WIN32)
	@cmake --build $(HOST)

win32: host
	@test -f $(WIN32)/build.ninja || cmake -S . -B $(WIN32) -G Ninja \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=MinSizeRel -DQUILL_HOST_BIN=$(ROOT)/$(HOST)
	@cmake --build $(WIN32)

# The host quillpack embeds the Windows stub, so it is built after build/win32.
pack-host: win32
	@cmake --build $(HOST) --target quillpack

test: build
	@scripts/run-tests.sh

# Single levels, for a quicker loop: make test-host, make test-wine, make test-static,
# make e2e ARGS='-k manifest'
test-host: host
	@scripts/run-tests.sh host

test-wine: build
	@scripts/run-tests.sh wine

test-static: build
	@scripts/run-tests.sh static

e2e: build
	@scripts/wine-env.sh /usr/bin/python3 -m pytest tests/e2e -q $(ARGS)

# Fuzzing for as long as asked: make fuzz FUZZ_SECONDS=3600 [FUZZ_TARGETS=options_fuzz]
fuzz: deps
	@scripts/run-fuzz.sh $(FUZZ_TARGETS)

# The benchmark behind docs/performance.md (about 20 minutes at full scale; needs nsis).
bench: build
	@scripts/install-deps.sh bench
	@scripts/wine-env.sh /usr/bin/python3 bench/run_bench.py $(BENCH_ARGS)

demo: build
	@scripts/demo.sh

format:
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

clean:
	rm -rf build
