# make run    installs what is missing, builds, and plays
# make test   installs, builds with warnings as errors, runs every test
# make bench  installs, builds, runs the benchmarks
MAKEFLAGS += --no-print-directory
WERROR ?= OFF
BUILD := build
JOBS := $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build run test bench format clean

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKULIMBARA_WERROR=$(WERROR) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: WERROR := OFF
run: build
	./$(BUILD)/kulimbara-sim --all --keys toggle:30

test: WERROR := ON
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: WERROR := OFF
bench: build
	./$(BUILD)/kulimbara-core-bench

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
