# Entry points. `make demo` builds the library, quillocmd and the data and converts the bundled
# sample; `make test` builds everything and runs every test; `make asan` does the same under
# AddressSanitizer + UndefinedBehaviorSanitizer. scripts/bootstrap installs the Debian packages
# each needs (when run as root). `make install` installs build/ under PREFIX (default
# /usr/local). `make bench` times conversions against a floor scan (bench/run); `make fuzz`
# builds the libFuzzer targets with clang into build-fuzz (run one with fuzz/run TARGET SECONDS).
# `make tsan` builds the engine, quillocmd and the engine-handle tests with ThreadSanitizer into
# build-tsan and runs those tests (engines on several threads, quillocmd -j).
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
FUZZ_BUILD ?= build-fuzz
TSAN_BUILD ?= build-tsan
PREFIX ?= /usr/local

.PHONY: all bootstrap bootstrap-demo configure build demo test install asan tsan bench fuzz clean \
  format

all: build

bootstrap:
	@scripts/bootstrap test

bootstrap-demo:
	@scripts/bootstrap demo

# Configured every time (it is quick). The demo configures only the engine: the library,
# quillocmd and the data (QUILLO_ENGINE_ONLY), so that it needs none of the packages of the rest;
# a later `make test` configures everything again in the same tree.
ENGINE_ONLY ?= OFF
configure:
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLO_ENGINE_ONLY=$(ENGINE_ONLY)

build: bootstrap
	$(MAKE) --no-print-directory configure ENGINE_ONLY=OFF
	cmake --build $(BUILD) -j $(JOBS)

demo: bootstrap-demo
	$(MAKE) --no-print-directory configure ENGINE_ONLY=ON
	cmake --build $(BUILD) -j $(JOBS) --target quillo_demo
	@mkdir -p $(BUILD)/demo
	$(BUILD)/bin/quillocmd -D PauseOnErr=0 -o $(BUILD)/demo/sample.html samples/sample.rtf
	@echo "Converted samples/sample.rtf -> $(BUILD)/demo/sample.html"

test: build
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

$(ASAN_BUILD)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUILLO_SANITIZE=ON

asan: $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

$(TSAN_BUILD)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(TSAN_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLO_TSAN=ON \
	  -DQUILLO_ENGINE_ONLY=ON -DQUILLO_BENCH=OFF

# Documents larger than 1 MB are left out of the handle tests here: ThreadSanitizer makes every
# conversion many times slower, and the races it looks for show on small documents as well.
tsan: $(TSAN_BUILD)/CMakeCache.txt
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target quillo_engines_tests quillocmd quillo_data
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	  QUILLO_ENGINES_MAX_BYTES=1000000 ctest --output-on-failure --no-tests=error -j 1

$(BENCH_BUILD)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release

bench: $(BENCH_BUILD)/CMakeCache.txt
	bench/run --build $(BENCH_BUILD)

$(FUZZ_BUILD)/CMakeCache.txt: | bootstrap
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQUILLO_FUZZ=ON -DQUILLO_TESTS=OFF -DQUILLO_BENCH=OFF -DQUILLO_ENGINE_ONLY=ON

fuzz: $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target tokenizer_fuzzer expand_fuzzer trn_fuzzer \
	  convert_fuzzer fuzz_dictionary

format:
	git ls-files '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
