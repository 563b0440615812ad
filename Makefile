# vitrel-ecg: `make run` starts the application with sample recordings,
# `make test` builds everything and runs every test.
BUILD    ?= build
GENERATOR ?= Ninja
CMAKE_ARGS ?=
JOBS     ?= $(shell nproc)
SAMPLES  ?= samples

.PHONY: all bootstrap configure build test run samples bench package install clean

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

package: build
	@cd $(BUILD) && cpack -G DEB
	@ls $(BUILD)/*.deb

PREFIX ?= /usr/local
install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

clean:
	rm -rf $(BUILD)
