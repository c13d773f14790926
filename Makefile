# Entry points. `make demo` builds and converts the bundled sample; `make test` builds and runs
# every test; `make asan` does the same under AddressSanitizer + UndefinedBehaviorSanitizer.
# scripts/bootstrap installs the Debian packages the build needs (when run as root).
# `make bench` times conversions against a floor scan (bench/run); `make fuzz` builds the libFuzzer
# targets with clang into build-fuzz (run one with fuzz/run TARGET SECONDS).
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
BUILD ?= build
ASAN_BUILD ?= build-asan
BENCH_BUILD ?= build-bench
FUZZ_BUILD ?= build-fuzz

.PHONY: all bootstrap build demo test asan bench fuzz clean format

all: build

bootstrap:
	@scripts/bootstrap

$(BUILD)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

demo: build
	@mkdir -p $(BUILD)/demo
	$(BUILD)/bin/quillocmd -D PauseOnErr=0 -o $(BUILD)/demo/sample.html samples/sample.rtf
	@echo "Converted samples/sample.rtf -> $(BUILD)/demo/sample.html"

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

$(ASAN_BUILD)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUILLO_SANITIZE=ON

asan: $(ASAN_BUILD)/CMakeCache.txt
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

$(BENCH_BUILD)/CMakeCache.txt: | bootstrap
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release

bench: $(BENCH_BUILD)/CMakeCache.txt
	bench/run --build $(BENCH_BUILD)

$(FUZZ_BUILD)/CMakeCache.txt: | bootstrap
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DQUILLO_FUZZ=ON -DQUILLO_TESTS=OFF -DQUILLO_BENCH=OFF

fuzz: $(FUZZ_BUILD)/CMakeCache.txt
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target tokenizer_fuzzer expand_fuzzer trn_fuzzer \
	  convert_fuzzer fuzz_dictionary

format:
	git ls-files '*.cc' '*.h' | xargs clang-format -i

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(FUZZ_BUILD)
