# The two commands a newcomer needs: `make run` and `make test`.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

# The reliability gates, each in a clang build of its own (clang++-14, lld):
#   make test-sanitize   every test under AddressSanitizer + UndefinedBehaviorSanitizer (leaks
#                        included; undefined behaviour ends the run) in $(SANITIZE_DIR)
#   make fuzz            the libFuzzer targets of fuzz/, FUZZ_SECONDS each, in the same build
#   make test-thread     korvo-relay and its tests under ThreadSanitizer in $(THREAD_DIR)
SANITIZE_DIR ?= build-sanitize
THREAD_DIR ?= build-thread
FUZZ_SECONDS ?= 20
CLANG_CONFIGURE = cmake -G Ninja -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=Debug \
	-DCMAKE_CXX_FLAGS_DEBUG="-O1 -gline-tables-only" -DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DKORVO_BUILD_BENCH=OFF

.PHONY: all deps test-deps gate-deps configure configure-tests build build-programs run test \
	bench package screenshots format clean test-sanitize fuzz test-thread

all: build

# What building and running need; test-deps adds the test tools, gate-deps clang for the gates
# (scripts/install-deps says which packages, and leaves no system service enabled).
deps:
	scripts/install-deps
test-deps:
	scripts/install-deps --test
gate-deps:
	scripts/install-deps --gates

# A first configure leaves the tests and benchmarks out (their libraries come with test-deps);
# configure-tests turns them on.
$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	    -DKORVO_BUILD_TESTS=OFF -DKORVO_BUILD_BENCH=OFF

configure: deps $(BUILD_DIR)/build.ninja

configure-tests: test-deps
	grep -qs '^KORVO_BUILD_TESTS:BOOL=ON' $(BUILD_DIR)/CMakeCache.txt && \
	    grep -qs '^KORVO_BUILD_BENCH:BOOL=ON' $(BUILD_DIR)/CMakeCache.txt || \
	    cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) \
	        -DKORVO_BUILD_TESTS=ON -DKORVO_BUILD_BENCH=ON

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

# The programs alone, whether or not the tests are configured.
PROGRAMS = korvo-connector korvo-connector-cli korvo-connector-desktop korvo-relay
build-programs: configure
	cmake --build $(BUILD_DIR) -j $(JOBS) --target $(PROGRAMS)

run: build-programs
	$(BUILD_DIR)/bin/korvo-connector

test: configure-tests
	cmake --build $(BUILD_DIR) -j $(JOBS)
	scripts/run-tests $(BUILD_DIR)
	scripts/check-package $(BUILD_DIR)

# Debian and RPM packages of the connector and the relay, into $(BUILD_DIR).
package: test-deps build
	cd $(BUILD_DIR) && cpack -G "DEB;RPM"

# The README's pictures, rendered under Xvfb with a window manager and a tray host, and under
# sway with waybar's tray.
screenshots: configure-tests
	cmake --build $(BUILD_DIR) -j $(JOBS)
	scripts/with-tray-host --size 1024x800 $(BUILD_DIR)/bin/korvo-screenshots \
	    $(BUILD_DIR)/bin/korvo-relay docs/screenshots
	cmake --build $(BUILD_DIR) --target test_app
	scripts/wayland-screenshots $(BUILD_DIR) docs/screenshots

$(SANITIZE_DIR)/build.ninja:
	$(CLANG_CONFIGURE) -S . -B $(SANITIZE_DIR) -DKORVO_SANITIZE=address,undefined -DKORVO_BUILD_FUZZ=ON

# SANITIZE_RUNNER=scripts/run-tests-unprivileged runs the suite as a user without root's rights
# (as CI does), so that the cases about file modes run too.
SANITIZE_RUNNER ?= scripts/run-tests
test-sanitize: gate-deps $(SANITIZE_DIR)/build.ninja
	cmake --build $(SANITIZE_DIR) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	LSAN_OPTIONS=suppressions=$(CURDIR)/scripts/leak-suppressions.txt \
		$(SANITIZE_RUNNER) $(SANITIZE_DIR)

fuzz: gate-deps $(SANITIZE_DIR)/build.ninja
	cmake --build $(SANITIZE_DIR) -j $(JOBS) --target fuzzers
	scripts/run-fuzzers $(SANITIZE_DIR) $(FUZZ_SECONDS)

$(THREAD_DIR)/build.ninja:
	$(CLANG_CONFIGURE) -S . -B $(THREAD_DIR) -DKORVO_SANITIZE=thread

# Only the relay (which has no Qt) is checked, served in the test's own process: the store, the
# claim throttle, the connection deadlines and the server under many concurrent clients.
test-thread: gate-deps $(THREAD_DIR)/build.ninja
	cmake --build $(THREAD_DIR) -j $(JOBS) --target test_relaythreads
	TSAN_OPTIONS=halt_on_error=1 $(THREAD_DIR)/bin/test_relaythreads

bench: configure-tests
	cmake --build $(BUILD_DIR) -j $(JOBS)
	scripts/run-benchmarks $(BUILD_DIR)

format:
	find src tests tools bench relay-server fuzz -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)
