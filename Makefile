# The two commands a newcomer needs: `make run` and `make test`.
BUILD_DIR ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS ?= $(shell nproc)

.PHONY: all deps configure build run test bench package screenshots format clean

all: build

deps:
	scripts/install-deps

$(BUILD_DIR)/build.ninja:
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

configure: deps $(BUILD_DIR)/build.ninja

build: configure
	cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	$(BUILD_DIR)/bin/korvo-connector

test: build
	scripts/run-tests $(BUILD_DIR)
	scripts/check-package $(BUILD_DIR)

# Debian packages of the connector and the relay, into $(BUILD_DIR).
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# The README's pictures, rendered under Xvfb with a window manager and a tray host.
screenshots: build
	scripts/with-tray-host --size 1024x800 $(BUILD_DIR)/bin/korvo-screenshots \
	    $(BUILD_DIR)/bin/korvo-relay docs/screenshots

bench: build
	scripts/run-benchmarks $(BUILD_DIR)

format:
	find src tests tools bench -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD_DIR)
