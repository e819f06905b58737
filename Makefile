# make run    installs what is missing, builds, and plays
# make sim    plays every level headless and prints what happened
# make test   installs, builds with warnings as errors, runs every test, then builds a
#             second tree under AddressSanitizer and UndefinedBehaviorSanitizer and runs
#             every test again there
# make golden rewrites the recorded whole-game results and level layouts (see the README)
# make bench  installs, builds, runs the benchmarks
# make screenshots   draws docs/screenshots/{intro,play,end}.png on a virtual display
# make font-table    regenerates src/core/font_table.cpp from DejaVu Sans Bold
# make font-preview  draws the font to build/font-preview.png
MAKEFLAGS += --no-print-directory
WERROR ?= OFF
BUILD := build
SANITIZE_BUILD := $(BUILD)/sanitize
JOBS := $(shell nproc 2>/dev/null || echo 2)

.PHONY: all deps configure build run sim test test-plain test-sanitize golden bench format clean \
        font-table font-preview screenshots

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

test: test-plain test-sanitize

test-plain: WERROR := ON
test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKULIMBARA_WERROR=ON \
	  -DKULIMBARA_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -j $(JOBS)

golden: build
	tests/golden_test.sh $(BUILD)/kulimbara-sim tests/golden/sim.json --write
	KULIMBARA_RECORD_GOLDEN=1 $(BUILD)/core-tests --gtest_brief=1 \
	  --gtest_filter=Levels.MatchTheRecordedLayouts

bench: WERROR := OFF
bench: build
	./$(BUILD)/kulimbara-core-bench
	./$(BUILD)/kulimbara-highscore-bench
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

screenshots: deps
	@bash scripts/screenshots.sh

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
