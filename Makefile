# Two entry points do everything on a fresh Debian 12 machine:
#   make run    installs what is missing, builds and starts Pixmoor
#   make test   installs what is missing, builds and runs every test
# Further targets: build, package, test-repeat, test-asan, test-tsan, fuzz-smoke, clean.

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
PACKAGE_BUILD ?= build-package
JOBS       ?= $(shell nproc)
WERROR     ?= $(if $(CI),ON,OFF)
CMAKE_ARGS ?=
FUZZ_SECONDS ?= 15
REPEAT     ?= 3

.PHONY: run test setup configure build package test-repeat test-asan test-tsan fuzz-smoke clean

setup:
	@scripts/setup.sh

# Debian's compiler and linker flags with all of its hardening, as the
# package is built (CMake reads no CPPFLAGS: they join the compilers' flags).
HARDENED = export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
  export CFLAGS="$$(dpkg-buildflags --get CFLAGS) $$(dpkg-buildflags --get CPPFLAGS)"; \
  export CXXFLAGS="$$(dpkg-buildflags --get CXXFLAGS) $$(dpkg-buildflags --get CPPFLAGS)"; \
  export LDFLAGS="$$(dpkg-buildflags --get LDFLAGS)"

# Configures a new build folder, with the package's flags and for /usr, so
# that the programs tested are the programs packaged; and an existing one
# again whenever its warnings-as-errors setting is not this run's: CI=true
# turns it on in a folder configured without it, and a later run without CI
# turns it off.
configure: setup
	@if [ ! -f $(BUILD)/build.ninja ]; then \
	  echo "cmake -S . -B $(BUILD) -G Ninja -DPIXMOOR_WERROR=$(WERROR) (dpkg-buildflags, /usr) $(CMAKE_ARGS)"; \
	  $(HARDENED); cmake -S . -B $(BUILD) -G Ninja -DPIXMOOR_WERROR=$(WERROR) -DCMAKE_INSTALL_PREFIX=/usr $(CMAKE_ARGS); \
	elif ! grep -Eq '^PIXMOOR_WERROR:[A-Z]+=$(WERROR)$$' $(BUILD)/CMakeCache.txt; then \
	  cmake -S . -B $(BUILD) -DPIXMOOR_WERROR=$(WERROR) $(CMAKE_ARGS); \
	fi

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	cd $(CURDIR) && $(BUILD)/src/app/pixmoor

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The Debian package, build-package/package/pixmoor_<version>_<arch>.deb:
# installs only what building it takes, and builds the programs alone
# (no tests, benchmarks or fuzzers) with the package's flags, for /usr.
# PACKAGE_BUILD=build packages the test build instead, which `make build`
# configures with the same flags for /usr: the same files, compiled alike,
# with nothing compiled again (CI packages it so). An older build folder
# made for another prefix is configured again for /usr, but keeps its flags.
package:
	@scripts/setup.sh --package
	@if [ ! -f $(PACKAGE_BUILD)/build.ninja ]; then \
	  echo "cmake -S . -B $(PACKAGE_BUILD) -G Ninja (programs only, dpkg-buildflags)"; \
	  $(HARDENED); cmake -S . -B $(PACKAGE_BUILD) -G Ninja -DPIXMOOR_TESTS=OFF -DPIXMOOR_BENCH=OFF \
	    -DCMAKE_INSTALL_PREFIX=/usr -DPIXMOOR_WERROR=$(WERROR) $(CMAKE_ARGS); \
	elif ! grep -q '^CMAKE_INSTALL_PREFIX:PATH=/usr$$' $(PACKAGE_BUILD)/CMakeCache.txt; then \
	  cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_INSTALL_PREFIX=/usr; \
	fi
	cmake --build $(PACKAGE_BUILD) -j $(JOBS)
	cd $(PACKAGE_BUILD) && cpack -G DEB

# The tests that start threads or child processes (labelled "threads"), each
# up to REPEAT times more and stopped at its first failure: a flake shows
# here before it reaches a user.
test-repeat: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) -L threads --repeat until-fail:$(REPEAT)

# The sanitizer builds use clang: it compiles the unoptimised test programs
# in two thirds of GCC's time, and its runtimes are the fuzzers' own.
SANITIZER_COMPILERS = -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++

test-asan: setup
	cmake -S . -B $(ASAN_BUILD) -G Ninja $(SANITIZER_COMPILERS) -DPIXMOOR_SANITIZE=ON -DPIXMOOR_BENCH=OFF -DPIXMOOR_WERROR=$(WERROR) -DCMAKE_BUILD_TYPE=Debug $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

test-tsan: setup
	cmake -S . -B $(TSAN_BUILD) -G Ninja $(SANITIZER_COMPILERS) -DPIXMOOR_TSAN=ON -DPIXMOOR_GUI=OFF -DPIXMOOR_BENCH=OFF -DPIXMOOR_WERROR=$(WERROR) -DCMAKE_BUILD_TYPE=Debug $(CMAKE_ARGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target threads-tests
	TSAN_OPTIONS=suppressions=$(CURDIR)/tests/support/tsan_glib.supp \
	  ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) -L threads

# A short libFuzzer run of every run of scripts/fuzz.sh: each picture family
# of the format registry, the real budget, the batch's row-by-row
# reduction and the plan's header reading (clang, ASan + UBSan); long runs:
# scripts/fuzz.sh 600
fuzz-smoke: setup
	scripts/fuzz.sh $(FUZZ_SECONDS)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(PACKAGE_BUILD) build-fuzz
