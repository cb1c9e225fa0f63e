# make run   build, start the simulated module on a pty as COM1, start ZelkConfig
# make test  build and run the whole suite headless
BUILD ?= build
JOBS ?= $(shell nproc)
MAKEFLAGS += --no-print-directory

.PHONY: all configure build run test test-sanitize fuzz format format-check tidy \
        windows windows-test windows-package windows-package-check bench \
        package package-check screenshots clean

all: build

configure:
	@scripts/install-deps.sh build
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Debug >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-with-simulator.sh $(BUILD)

test:
	@scripts/install-deps.sh build test
	@$(MAKE) build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure --no-tests=error -j $(JOBS)

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize:
	@scripts/install-deps.sh build test
	@cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DZELK_SANITIZE=ON >/dev/null
	@cmake --build build-sanitize -j $(JOBS)
	@cd build-sanitize && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
		UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --output-on-failure --no-tests=error -j $(JOBS)

# The configuration-text scanner, the setting-file load and the Telnet session of network
# ports under libFuzzer with the sanitizers, FUZZ_TIME seconds each, from the seed corpus in
# tests/fuzz/corpus; any finding fails. New inputs collect in build-fuzz/corpus, never in the source tree.
FUZZ_TIME ?= 30
FUZZ_TARGETS = fuzz_config_text fuzz_load_file fuzz_telnet

fuzz:
	@scripts/install-deps.sh build test fuzz
	@CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DZELK_FUZZ=ON >/dev/null
	@cmake --build build-fuzz -j $(JOBS) --target $(FUZZ_TARGETS)
	@for target in $(FUZZ_TARGETS); do \
		mkdir -p build-fuzz/corpus/$$target || exit 1; \
		echo "fuzzing $$target for $(FUZZ_TIME) s"; \
		( cd build-fuzz && QT_QPA_PLATFORM=offscreen ASAN_OPTIONS=detect_leaks=0 \
			UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
			./$$target -max_total_time=$(FUZZ_TIME) -max_len=2048 -print_final_stats=1 \
			corpus/$$target ../tests/fuzz/corpus ) || exit 1; \
	done

format:
	@scripts/install-deps.sh format
	@git ls-files '*.cpp' '*.h' | xargs clang-format -i

format-check:
	@scripts/install-deps.sh format
	@git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

# clang-tidy's bug-finding checks over the program, the runtime and the tools, from the
# compile commands of the normal build, and no function longer than a screen (60 lines).
TIDY_CHECKS = -*,bugprone-*,clang-analyzer-*,-bugprone-easily-swappable-parameters,-bugprone-narrowing-conversions,readability-function-size
TIDY_CONFIG = {CheckOptions: [{key: readability-function-size.LineThreshold, value: 60}]}

tidy: build
	@scripts/install-deps.sh tidy
	@git ls-files 'core/*.cpp' 'window/*.cpp' 'runtime/*.cpp' 'tools/*.cpp' | \
		xargs -P $(JOBS) -n 1 clang-tidy -p $(BUILD) --quiet -checks='$(TIDY_CHECKS)' \
		--config='$(TIDY_CONFIG)' --warnings-as-errors='*' 2>/dev/null

# Figures for zelkctl against zelksim: start-up, memory, a read against its floor, eight
# ports against one; the window's start-up against a bare Qt window on a virtual display.
# Reports, fails nothing.
# Speed is measured on an optimised tree of its own, built as the package is (-O2): what a
# debug build spends in its own unoptimised code is not what anybody runs.
BENCH_BUILD ?= build-bench

bench:
	@scripts/install-deps.sh build bench
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS) --target ZelkConfig zelkctl zelksim
	@bench/zelkctl-bench.py $(BENCH_BUILD)
	@bench/window-bench.py $(BENCH_BUILD)

# Windows: ZelkConfig.exe, zelkctl.exe and the tests that need no pseudo-terminal, cross-built
# into build-windows/ with MinGW-w64 against Qt for Windows at ZELK_QT_WINDOWS (unpacked
# from ../shared/winsdk/ when it is not there yet; scripts/build-qt-windows.sh makes it from
# the sources). -O2: GCC 12's -O3 warns falsely of overlapping copies inside std::string.
ZELK_QT_WINDOWS ?= /opt/qt6.4.2-mingw
WINDOWS_BUILD ?= build-windows

windows:
	@scripts/install-deps.sh build windows
	@scripts/windows-qt.sh $(ZELK_QT_WINDOWS)
	@cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_BUILD_TYPE=Release \
		-DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
		-DCMAKE_TOOLCHAIN_FILE=$(ZELK_QT_WINDOWS)/lib/cmake/Qt6/qt.toolchain.cmake \
		-DQT_CHAINLOAD_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64-posix.cmake \
		-DQT_HOST_PATH=/usr >/dev/null
	@cmake --build $(WINDOWS_BUILD) -j $(JOBS)

# The Windows tests under Wine in a Wine installation of their own, then the window started
# on a virtual display and closed with EXIT, then zelkctl.exe's offline commands.
windows-test: windows
	@scripts/windows-test.sh $(WINDOWS_BUILD) $(JOBS)

# The Windows packages in build-windows/: ZelkConfig-VERSION-win64.zip, a folder that runs
# where it is unpacked, and ZelkConfig-VERSION-setup.exe, made with NSIS.
windows-package: windows
	@scripts/windows-package.sh $(WINDOWS_BUILD)

# Both tried under Wine: the zip's programs started where it is unpacked; the installer run
# silently, what it installed started, and its uninstaller leaving nothing behind.
windows-package-check: windows-package
	@scripts/windows-package-check.sh $(WINDOWS_BUILD)

# The Debian package, in build-package/: built with Debian's own optimisation flags and all
# its hardening (build type None, as Debian's packaging tools build), installed under /usr,
# its dependencies computed from the binaries.
DEB_FLAGS = DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get

package:
	@scripts/install-deps.sh build package
	@cmake -S . -B build-package -DCMAKE_BUILD_TYPE=None -DZELK_TESTS=OFF \
		-DCMAKE_INSTALL_PREFIX=/usr \
		-DCMAKE_CXX_FLAGS="$$($(DEB_FLAGS) CPPFLAGS) $$($(DEB_FLAGS) CXXFLAGS)" \
		-DCMAKE_EXE_LINKER_FLAGS="$$($(DEB_FLAGS) LDFLAGS)" >/dev/null
	@cmake --build build-package -j $(JOBS)
	@rm -f build-package/*.deb
	@cd build-package && cpack -G DEB
	@ls build-package/*.deb

# The package extracted and run from elsewhere, its desktop entry and metadata validated,
# lintian's errors fatal.
package-check: package
	@scripts/check-package.sh build-package/*.deb

# The README's pictures, taken of the real window on a virtual display: the panel, the
# panel under a dark desktop theme with a popup over it, on a 1366 x 768 laptop screen
# scaled by 125 %, and the Windows build under Wine.
screenshots: build windows
	@scripts/screenshot.sh $(BUILD) docs/panel.png
	@scripts/screenshot.sh $(BUILD) docs/panel-dark.png --dark --click 726,532
	@scripts/screenshot.sh $(BUILD) docs/panel-small.png --screen 1366x768 --scale 1.25 \
		--whole-screen
	@scripts/screenshot.sh $(WINDOWS_BUILD) docs/panel-wine.png --wine

clean:
	rm -rf $(BUILD) build-sanitize build-fuzz build-package $(WINDOWS_BUILD)
