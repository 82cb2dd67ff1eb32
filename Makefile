# Every target installs what it needs first, so each works on a fresh Debian 12 machine.
JOBS        ?= $(shell nproc)
BUILD       ?= build
ASAN_BUILD  ?= build-asan
BENCH_BUILD ?= build-bench
FUZZ_BUILD  ?= build-fuzz
TSAN_BUILD  ?= build-tsan
ARM64_BUILD ?= build-arm64
FUZZ_SECONDS ?= 60
DEMO_DIR    ?= demo-out
# ccache, where installed, keeps a rebuild short (CI's with a warm cache); paths below the
# clone count as relative, so that a clone in another folder finds the same entries.
CCACHE      := $(if $(shell command -v ccache),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
export CCACHE_BASEDIR ?= $(CURDIR)
export CCACHE_NOHASHDIR ?= true
# ORBV_WERROR=ON (CI's) makes every build's warnings errors.
ORBV_WERROR ?= OFF
CONFIG      := $(CCACHE) -DORBV_WERROR=$(ORBV_WERROR)

.PHONY: all deps build test test-asan test-arm64 bench bench-build fuzz check-memory tsan demo format lint clean

all: build

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CONFIG)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	$(MAKE) test-asan

test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DORBV_SANITIZE=ON $(CONFIG)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=halt_on_error=1:detect_leaks=1 \
		UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
		LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
		ctest --output-on-failure -j $(JOBS)

# Linux on ARM64: cross-built against Debian's arm64 packages, the tests run under qemu-user.
test-arm64: deps
	scripts/arm64-deps
	cmake -S . -B $(ARM64_BUILD) -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake $(CONFIG)
	cmake --build $(ARM64_BUILD) -j $(JOBS)
	cd $(ARM64_BUILD) && ctest --output-on-failure -j $(JOBS)

# The benchmarks also compare with vipsthumbnail, installed here only (make test needs none).
bench:
	scripts/install-deps --bench
	$(MAKE) bench-build
	scripts/run-benchmarks $(BENCH_BUILD)

# Every benchmark compiled, none run: CI's guard that they still build.
bench-build: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DORBV_BENCH=ON -DORBV_TESTS=OFF $(CONFIG)
	cmake --build $(BENCH_BUILD) -j $(JOBS)

fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBV_FUZZ=ON $(CONFIG)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	scripts/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS)

# One run of each kind of call under valgrind memcheck: no invalid access, nothing lost. Where
# valgrind cannot run the program, the sanitizer build's LeakSanitizer checks the call.
check-memory: build
	JOBS=$(JOBS) scripts/check-memory $(BUILD) $(ASAN_BUILD)

# The concurrency test (eight analyses and two exports on ten threads) under ThreadSanitizer.
# tests/tsan.supp explains every suppression and why accesses of FFmpeg's own threads are not
# recorded (ignore_noninstrumented_modules).
TSAN_RUN_OPTIONS = halt_on_error=1 second_deadlock_stack=1 ignore_noninstrumented_modules=1 \
	suppressions=$(CURDIR)/tests/tsan.supp
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORBV_TSAN=ON $(CONFIG)
	cmake --build $(TSAN_BUILD) --target concurrency_test -j $(JOBS)
	TSAN_OPTIONS="$(TSAN_RUN_OPTIONS)" $(TSAN_BUILD)/bin/concurrency_test

# Only what the demo runs: the library, the tools and their man pages; make test builds the rest.
demo: deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CONFIG)
	cmake --build $(BUILD) -j $(JOBS) --target orbv_host orbv_sample_shot_cli orbv_man_pages
	scripts/demo $(BUILD) $(DEMO_DIR)

format:
	find include src tools tests bench fuzz -name '*.h' -o -name '*.cpp' -o -name '*.c' | xargs clang-format -i

# The formatting of every tracked source, then clang-tidy's checks (.clang-tidy) over the
# library's, the tools' and the tests' sources as the Linux build compiles them, headers
# included; any finding fails. Configuring suffices: clang-tidy reads the compile commands.
LINT_DIRS = src include tools tests bench fuzz
lint: deps
	git ls-files -- $(foreach d,$(LINT_DIRS),'$(d)/*.cpp' '$(d)/*.h') | \
		xargs clang-format --dry-run --Werror
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CONFIG)
	run-clang-tidy -quiet -p $(BUILD) -j $(JOBS) \
		-header-filter='^$(CURDIR)/(src|include|tools|tests)/' '^$(CURDIR)/(src|tools|tests)/'

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(ARM64_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD) $(TSAN_BUILD) $(DEMO_DIR)

# Windows x86-64: orbv.dll cross-built with MinGW-w64 against FFmpeg, x264 and OpenCV built once
# per machine from Debian's sources (scripts/windows-deps); the tests run under Wine.
WIN_BUILD ?= build-windows
WIN_DIST  ?= $(WIN_BUILD)/orbv-windows
.PHONY: windows windows-configure test-windows

windows-configure:
	scripts/windows-deps
	cmake -S . -B $(WIN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake $(CONFIG) \
		-DORBV_WINDOWS_DEPS="$$(scripts/windows-deps --print-prefix)"

windows: windows-configure
	cmake --build $(WIN_BUILD) -j $(JOBS) --target orbv orbv_host
	cmake --install $(WIN_BUILD) --prefix $(WIN_DIST) --component orbv
	scripts/check-windows-dll $(WIN_DIST)/bin/orbv.dll

# Then the demo shot and a path beyond ASCII through both builds' orbv tools: same documents.
test-windows: windows build
	cmake --build $(WIN_BUILD) -j $(JOBS)
	WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" wineboot --init
	cd $(WIN_BUILD) && ctest --output-on-failure -j $(JOBS)
	scripts/compare-windows $(BUILD) $(WIN_BUILD)
