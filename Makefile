# vitrel-ecg: `make run` starts the application with sample recordings,
# `make test` builds everything and runs every test.
BUILD    ?= build
GENERATOR ?= Ninja
CMAKE_ARGS ?=
JOBS     ?= $(shell nproc)
SAMPLES  ?= samples

.PHONY: all bootstrap configure build test run samples bench package install fuzz test-asan test-tsan clean

all: build

bootstrap:
	@scripts/bootstrap

configure: bootstrap
	@cmake -S . -B $(BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

samples: build
	@scripts/make-samples $(BUILD)/tools/vitrel-synth $(SAMPLES)

run: samples
	@scripts/run-app $(BUILD) $(SAMPLES)

bench: build
	@bench/run-bench $(BUILD)

# AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer over every test.
ASAN_BUILD ?= build-asan
test-asan: bootstrap
	@cmake -S . -B $(ASAN_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVITREL_SANITIZE=address,undefined -DVITREL_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	@cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1 \
	  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --output-on-failure -j $(JOBS)

# ThreadSanitizer over the tests labelled tsan (tests/CMakeLists.txt): the
# analysis and the document life cycle, core and widgets. Qt is not
# instrumented: its futex-based locks are invisible, so the memory its event
# queue hands between threads would show up as races. Only accesses made by
# our own (instrumented) code are checked; the tests fork vitrel-synth after
# threads exist, which is safe there (exec follows).
TSAN_BUILD ?= build-tsan
test-tsan: bootstrap
	@cmake -S . -B $(TSAN_BUILD) -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVITREL_SANITIZE=thread -DVITREL_BUILD_BENCH=OFF >/dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target tsan-tests
	@cd $(TSAN_BUILD) && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:ignore_noninstrumented_modules=1:die_after_fork=0 \
	  ctest --output-on-failure -j $(JOBS) -L tsan

# make fuzz FUZZ_TARGETS="standard_format detector" FUZZ_SECONDS=3600
FUZZ_TARGETS ?= kind_selection detector precise_detector analysis standard_format
FUZZ_SECONDS ?= 60
fuzz: bootstrap
	@FUZZ_TARGETS="$(FUZZ_TARGETS)" FUZZ_SECONDS="$(FUZZ_SECONDS)" JOBS="$(JOBS)" scripts/run-fuzz

package: build
	@cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/*.deb

PREFIX ?= /usr/local
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD)
