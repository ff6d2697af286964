# kwsnmp: `make run` starts kwsnmpd with the simulated panel; `make test` builds and runs every
# test: plain, under ASan+UBSan, under TSan, the fuzzers briefly, and the ARM build under qemu.
JOBS       ?= $(shell nproc)
CMAKE_GEN  := -G Ninja
CTEST      := ctest --output-on-failure --timeout 300 -j $(JOBS)
SAN_LABELS ?= unit
# The agent library's threads (Net-SNMP's loop, the serving thread, the stop) run only inside
# kwsnmpd: these scenarios drive the TSan build of kwsnmpd, which fails them on any report.
SAN_E2E    ?= Hardening.*

.PHONY: all bootstrap build run install deb test test-plain test-asan test-tsan test-fuzz fuzz-long \
        test-arm bench bench-load mib-lint clean

all: build

bootstrap:
	@scripts/bootstrap.sh --check || scripts/bootstrap.sh

build/build.ninja: | bootstrap
	cmake -S . -B build $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: bootstrap build/build.ninja
	cmake --build build -j $(JOBS)

run: build
	@if [ ! -x build/bin/kwsnmpd ]; then echo "make run: kwsnmpd is not built yet" >&2; exit 1; fi
	build/bin/kwsnmpd $(ARGS)

# make install [PREFIX=/usr/local] [DESTDIR=/staging]: programs, private libraries (found through
# their RUNPATH), the MIB, manual pages, the systemd unit and the example configuration.
PREFIX ?= /usr/local
install: bootstrap build/build.ninja
	cmake -S . -B build -DCMAKE_INSTALL_PREFIX=$(PREFIX) >/dev/null
	cmake --build build -j $(JOBS) --target kwsnmpd kwpanel-sim kwsnmp_man
	DESTDIR="$(DESTDIR)" cmake --install build

# make deb: the Debian package, built from a copy of the tree so the worktree stays clean; the
# package lands in build/deb/ and lintian must report no error on it.
DEB_DIR := build/deb
deb: bootstrap
	rm -rf $(DEB_DIR) && mkdir -p $(DEB_DIR)/src
	tar --exclude='./build*' --exclude=./node_modules --exclude=./.git -cf - . | tar -xf - -C $(DEB_DIR)/src
	cd $(DEB_DIR)/src && DEB_BUILD_OPTIONS="nocheck parallel=$(JOBS)" dpkg-buildpackage -b -us -uc
	rm -rf $(DEB_DIR)/src
	lintian --fail-on error $(DEB_DIR)/*.changes
	@ls $(DEB_DIR)/*.deb

test: test-plain test-asan test-tsan test-fuzz test-arm
	@echo "make test: all suites passed"

test-plain: build
	$(CTEST) --test-dir build

build-asan/build.ninja: | bootstrap
	cmake -S . -B build-asan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKW_WITH_BENCH=OFF \
	  -DKW_SANITIZE=address,undefined

test-asan: bootstrap build-asan/build.ninja
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  $(CTEST) --test-dir build-asan -L '$(SAN_LABELS)'

build-tsan/build.ninja: | bootstrap
	cmake -S . -B build-tsan $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug -DKW_WITH_BENCH=OFF \
	  -DKW_SANITIZE=thread

test-tsan: bootstrap build-tsan/build.ninja
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  $(CTEST) --test-dir build-tsan -L '$(SAN_LABELS)'
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  build-tsan/bin/test_e2e --gtest_filter='$(SAN_E2E)'

build-fuzz/build.ninja: | bootstrap
	CC=clang CXX=clang++ cmake -S . -B build-fuzz $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Debug \
	  -DKW_WITH_TESTS=OFF -DKW_WITH_BENCH=OFF -DKW_WITH_SNMP=OFF -DKW_FUZZ=ON

# Each fuzzer runs for a bounded time from its seed corpus; any crash fails the run.
FUZZ_SECONDS ?= 600
test-fuzz: bootstrap build-fuzz/build.ninja
	cmake --build build-fuzz -j $(JOBS) --target fuzz_all
	FUZZ_SECONDS=10 fuzz/run-all.sh build-fuzz/bin

# The same, FUZZ_SECONDS per fuzzer (default 600), with each one's rate in inputs/s.
fuzz-long: bootstrap build-fuzz/build.ninja
	cmake --build build-fuzz -j $(JOBS) --target fuzz_all
	FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run-all.sh build-fuzz/bin

build-arm/build.ninja: | bootstrap
	cmake -S . -B build-arm $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-armhf.cmake -DKW_WITH_SNMP=OFF -DKW_WITH_BENCH=OFF

# The display's own target: cross-build for 32-bit ARM (module, framework stand-in, agent stub
# and every unit test; no Net-SNMP, see cmake/toolchain-armhf.cmake) and run the unit tests
# under qemu.
test-arm: bootstrap
	@if ! command -v arm-linux-gnueabihf-g++ >/dev/null || ! command -v qemu-arm-static >/dev/null; then \
	  echo "test-arm: no ARM cross toolchain, skipped"; exit 0; fi; \
	$(MAKE) build-arm/build.ninja && cmake --build build-arm -j $(JOBS) && \
	file -L build-arm/lib/libKWSNMP.so && \
	$(CTEST) --test-dir build-arm -L unit

bench: build
	@for b in build/bin/bench_*; do [ -x "$$b" ] && "$$b"; done

# kwsnmpd under hostile and heavy load from real managers on loopback (about two minutes).
bench-load: build
	python3 bench/load.py --kwsnmpd build/bin/kwsnmpd $(ARGS)

mib-lint: bootstrap
	scripts/mib-lint.sh

clean:
	rm -rf build build-asan build-tsan build-fuzz build-arm
