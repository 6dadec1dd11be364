# Entry points for developers and CI. Every target installs what is missing first.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
# The test binaries the ThreadSanitizer build runs: the threaded layers.
TSAN_TESTS := tests/transport/voxhall_transport_tests tests/protocol/voxhall_protocol_tests \
              tests/host/voxhall_host_tests
JOBS       ?= $(shell nproc)

.PHONY: deps build build-asan tsan run test clean

deps:
	scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVOXHALL_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)

# The transport, protocol and host tests under ThreadSanitizer.
tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVOXHALL_TSAN=ON
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(notdir $(TSAN_TESTS))
	set -e; for t in $(TSAN_TESTS); do \
	  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 $(TSAN_BUILD)/$$t; done

# Starts the server with its defaults; its files land in run/.
run: build
	mkdir -p run
	cd run && exec ../$(BUILD)/voxhall-server -httpdocs=$(CURDIR)/httpdocs

test: build build-asan
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)
	$(MAKE) tsan

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD)
