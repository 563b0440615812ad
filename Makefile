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

# AddressSanitizer with UndefinedBehaviorSanitizer over every test.
test-asan: bootstrap
	@cmake -S . -B build-asan -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVITREL_SANITIZE=address,undefined -DVITREL_BUILD_BENCH=OFF >/dev/null
	@cmake --build build-asan -j $(JOBS)
	@cd build-asan && ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j $(JOBS) -E debian_package

# ThreadSanitizer over the analysis and the document life cycle.
TSAN_TESTS ?= Analysis|Document|Worker|Cancel|LifeCycle|tst_document|tst_lifecycle
test-tsan: bootstrap
	@cmake -S . -B build-tsan -G $(GENERATOR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVITREL_SANITIZE=thread -DVITREL_BUILD_BENCH=OFF >/dev/null
	@cmake --build build-tsan -j $(JOBS)
	@cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 ctest --output-on-failure -j $(JOBS) -R '$(TSAN_TESTS)'

fuzz: bootstrap
	@scripts/run-fuzz

package: build
	@cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/*.deb

PREFIX ?= /usr/local
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD)
