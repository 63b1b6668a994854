# The two promised commands: `make demo` runs the main job, `make test` the
# whole suite. Both install what is missing first.
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=

.PHONY: build test test-asan test-tsan demo bench clean

build:
	tools/deps.sh test
	cmake -S . -B $(BUILD) $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure --timeout 300

# The core suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-asan:
	tools/deps.sh test
	cmake -S . -B build-asan -DKUVO_SANITIZE=address,undefined -DKUVO_GATEWAYS=OFF
	cmake --build build-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --test-dir build-asan --output-on-failure --timeout 600

# The core suite under ThreadSanitizer.
test-tsan:
	tools/deps.sh test
	cmake -S . -B build-tsan -DKUVO_SANITIZE=thread -DKUVO_GATEWAYS=OFF
	cmake --build build-tsan -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  ctest --test-dir build-tsan --output-on-failure --timeout 600

demo: build
	tools/deps.sh demo
	demo/run.sh $(BUILD)

bench:
	tools/deps.sh bench
	cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release -DKUVO_BENCH=ON -DKUVO_TESTS=OFF
	cmake --build build-bench -j $(JOBS)
	bench/run.sh build-bench

clean:
	rm -rf $(BUILD) build-asan build-tsan build-bench
