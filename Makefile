# make run    installs what is missing, builds, and plays
# make sim    plays every level headless and prints what happened
# make test   installs, builds with warnings as errors, runs every test
# make bench  installs, builds, runs the benchmarks
# make font-table    regenerates src/core/font_table.cpp from DejaVu Sans Bold
# make font-preview  draws the font to build/font-preview.png
MAKEFLAGS += --no-print-directory
WERROR ?= OFF
BUILD := build
JOBS := $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build run sim test bench format clean font-table font-preview

all: build

deps:
	@bash scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKULIMBARA_WERROR=$(WERROR) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: WERROR := OFF
run: build
	@if [ -z "$${DISPLAY:-}" ]; then \
	  echo "kulimbara: no display: the game needs a graphical desktop (DISPLAY is not set)"; \
	else ./$(BUILD)/kulimbara; fi

sim: build
	./$(BUILD)/kulimbara-sim --all --keys toggle:30

test: WERROR := ON
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

bench: WERROR := OFF
bench: build
	./$(BUILD)/kulimbara-core-bench
	@if [ -n "$${DISPLAY:-}" ]; then ./$(BUILD)/kulimbara-render-bench; \
	else KULIMBARA_SCREEN=1920x1080x24 tests/with_display.sh ./$(BUILD)/kulimbara-render-bench; fi

# These two keep the build folder's settings, so that they cause no rebuild of the game.
font-table: deps
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) --target font-table

font-preview: deps
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) --target font-preview
	./$(BUILD)/font-preview $(BUILD)/font-preview.mvg 0.5
	convert mvg:$(BUILD)/font-preview.mvg $(BUILD)/font-preview.png

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
