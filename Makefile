# Two commands set everything up on a fresh Debian machine:
#   make run    install what is missing, build, start the editor here
#   make test   install what is missing, build, run every test, then again in a sanitizer build
#   make fuzz   fuzz the ship file reader for FUZZ_SECONDS
#   make package  build the Debian package
#   make windows  cross-build build-windows/gantrix.exe (make package-windows: its zip)
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo
# AddressSanitizer and UndefinedBehaviorSanitizer; Debug keeps the asserts on.
ASAN_BUILD ?= $(BUILD)-asan
ASAN_CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Debug -DGANTRIX_SANITIZE=ON

.PHONY: run test build clean

# Running needs no test tools, so `make run` builds without the tests; `make build` turns them
# back on in the same folder, so neither target depends on what the other left in the cache.
run:
	@scripts/install-deps run
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DGANTRIX_BUILD_TESTS=OFF >/dev/null
	@cmake --build $(BUILD) -j$(JOBS) --target gantrix
	$(BUILD)/gantrix

# The Linux build also builds the Windows editor, which one of its end-to-end tests runs
# under Wine beside the Linux editor.
build: windows
	@scripts/install-deps test
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) -DGANTRIX_BUILD_TESTS=ON \
		-DGANTRIX_WINDOWS_EDITOR=$(abspath $(WINDOWS_BUILD))/gantrix.exe >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

# The sanitizer run halts on the first report of any test or of an editor a test starts;
# tests/sanitizer/run sets the options; tests/sanitizer/lsan.supp gives each suppression's reason.
# The Wine prefix is made anew, once for the whole run, before the first test needs it.
# An empty test list fails: a build configured without its tests must not pass as green.
CTEST = ctest --output-on-failure --no-tests=error -j$(JOBS)
test: export GANTRIX_WINE_PREFIX = $(abspath $(WINDOWS_BUILD))/wine-prefix
test: build format-check
	@rm -rf $(WINDOWS_BUILD)/wine-prefix
	@scripts/with-wine --prepare
	$(CTEST) --test-dir $(BUILD)
	@cmake --build $(WINDOWS_BUILD) -j$(JOBS)
	$(CTEST) --test-dir $(WINDOWS_BUILD)
	@cmake -S . -B $(ASAN_BUILD) $(ASAN_CMAKE_FLAGS) -DGANTRIX_BUILD_TESTS=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j$(JOBS)
	tests/sanitizer/run $(CTEST) --test-dir $(ASAN_BUILD)

# Every C++ file in the house format (.clang-format); `clang-format -i FILE` puts one right.
.PHONY: format-check
format-check:
	@clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h' 2>/dev/null || find . -path './build*' -prune -o \( -name '*.cpp' -o -name '*.h' \) -print)
	@echo "format-check: every C++ file is in the house format"

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(BUILD)-bench $(BUILD)-soak $(PACKAGE_BUILD) \
		$(WINDOWS_BUILD)

# The ship file reader under libFuzzer (a clang build of its own) for FUZZ_SECONDS; a crash, a
# hang, a leak, a sanitizer report or a broken save-and-load property fails it and leaves the
# input in $(FUZZ_BUILD). New inputs collect in $(FUZZ_BUILD)/corpus; the committed seeds in
# tests/fuzz/corpus are only read.
FUZZ_SECONDS ?= 60
FUZZ_BUILD ?= $(BUILD)-fuzz
.PHONY: fuzz
fuzz:
	@scripts/install-deps fuzz
	@cmake -S tests/fuzz -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++ >/dev/null
	@cmake --build $(FUZZ_BUILD) -j$(JOBS)
	@mkdir -p $(FUZZ_BUILD)/corpus
	$(FUZZ_BUILD)/ship_file_fuzz -max_total_time=$(FUZZ_SECONDS) -timeout=10 -print_final_stats=1 \
		-artifact_prefix=$(FUZZ_BUILD)/ $(FUZZ_BUILD)/corpus tests/fuzz/corpus

# Measurements, not part of `make test`. BENCH_ARGS passes options to Google Benchmark,
# e.g. make bench BENCH_ARGS=--benchmark_format=json
.PHONY: bench
bench:
	@scripts/install-deps bench
	@cmake -S . -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DGANTRIX_BUILD_TESTS=OFF -DGANTRIX_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BUILD)-bench -j$(JOBS) --target gantrix_bench
	scripts/with-xvfb $(BUILD)-bench/gantrix_bench $(BENCH_ARGS)

# A long soak of the running editor under seeded random input, in a sanitizer build of its
# own (SOAK_SANITIZE=OFF soaks the plain build). `make test` runs the same test for 45 s.
#   make soak SOAK_SECONDS=600 SOAK_SEED=1
SOAK_SECONDS ?= 600
SOAK_SEED ?= 1
SOAK_SANITIZE ?= ON
SOAK_BUILD ?= $(BUILD)-soak
.PHONY: soak
soak:
	@scripts/install-deps test
	@cmake -S . -B $(SOAK_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGANTRIX_SANITIZE=$(SOAK_SANITIZE) >/dev/null
	@cmake --build $(SOAK_BUILD) -j$(JOBS) --target soak_test
	GANTRIX_SOAK_SECONDS=$(SOAK_SECONDS) GANTRIX_SOAK_SEED=$(SOAK_SEED) tests/sanitizer/run $(SOAK_BUILD)/tests/e2e/soak_test

# The Debian package, from a Release build of its own without tests or benchmarks; prints
# the path of the .deb. dpkg-shlibdeps (dpkg-dev) fills in its Depends, and dpkg-buildflags
# gives the hardening flags Debian builds its own packages with.
PACKAGE_BUILD ?= $(BUILD)-package
.PHONY: package
package: export DEB_BUILD_MAINT_OPTIONS = hardening=+all
package:
	@scripts/install-deps package
	@CXXFLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
		LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)" \
		cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=Release -DGANTRIX_BUILD_TESTS=OFF \
		-DGANTRIX_BUILD_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
	@cmake --build $(PACKAGE_BUILD) -j$(JOBS)
	@rm -f $(PACKAGE_BUILD)/*.deb
	@cd $(PACKAGE_BUILD) && cpack -G DEB >/dev/null
	@ls $(PACKAGE_BUILD)/*.deb

# The Windows editor, cross-built with MinGW-w64: a console program linked statically, so the
# .exe alone runs on Windows. freeglut (from Debian's source package) and GoogleTest (from
# Debian's googletest sources) are built for it once and kept in $(WINDOWS_BUILD)/deps.
WINDOWS_BUILD ?= build-windows
WINDOWS_CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=Release
.PHONY: windows windows-configure test-windows package-windows
windows-configure:
	@scripts/install-deps windows
	@JOBS=$(JOBS) scripts/build-windows-deps $(WINDOWS_BUILD)/deps
	@cmake -S . -B $(WINDOWS_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
		-DGANTRIX_BUILD_TESTS=ON -DGANTRIX_WINDOWS_DEPS=$(abspath $(WINDOWS_BUILD))/deps/prefix $(WINDOWS_CMAKE_FLAGS) >/dev/null

windows: windows-configure
	@cmake --build $(WINDOWS_BUILD) -j$(JOBS) --target gantrix
	@ls $(WINDOWS_BUILD)/gantrix.exe

# Only the Windows build's own tests, each under Wine (make test runs them too).
test-windows: export GANTRIX_WINE_PREFIX = $(abspath $(WINDOWS_BUILD))/wine-prefix
test-windows: windows-configure
	@cmake --build $(WINDOWS_BUILD) -j$(JOBS)
	@rm -rf $(WINDOWS_BUILD)/wine-prefix
	@scripts/with-wine --prepare
	$(CTEST) --test-dir $(WINDOWS_BUILD)

# gantrix-<version>-win64.zip: the .exe, the README, the changelog, the copyright file and
# the licences of what the .exe links statically (third-party-licences.txt).
package-windows: windows
	@rm -f $(WINDOWS_BUILD)/*.zip
	@cd $(WINDOWS_BUILD) && cpack -G ZIP >/dev/null
	@ls $(WINDOWS_BUILD)/*.zip
