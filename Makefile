# make run    installs what the game needs, builds the game alone, and plays
#             (ARGS="--windowed --debug" passes options; without a display the game says so
#             and the target fails)
# make sim    plays every level headless and prints what happened
# make test   installs, builds with warnings as errors, runs every test, then builds a
#             second tree under AddressSanitizer and UndefinedBehaviorSanitizer and runs
#             every test again there, runs each fuzz target for FUZZ_TEST_SECONDS, and
#             tests the Debian packages (as root: installs them in a clean Debian 12 chroot)
# make memcheck  builds, plays level 0 to its end and into level 1 on the real game under
#                 valgrind's memcheck on a virtual display (a few minutes)
# make golden rewrites the recorded whole-game results and level layouts (see the README)
# make bench  installs, builds, runs the benchmarks (the last two play the real game full screen
#             for 25 s, then pause it for 17)
# make fuzz   builds the fuzz targets with clang and libFuzzer and runs each for FUZZ_SECONDS
# make package       builds build/kulimbara_VERSION_amd64.deb and kulimbara-highscore_VERSION_amd64.deb
# make package-test  builds the packages, lints them and installs them in clean Debian 12 chroots
# make screenshots   draws docs/screenshots/{intro,play,end}.png on a virtual display
# make font-table    regenerates src/font/font_table.cpp from DejaVu Sans Bold
# make font-preview  draws the font to build/font-preview.png
MAKEFLAGS += --no-print-directory
WERROR ?= OFF
BUILD := build
SANITIZE_BUILD := $(BUILD)/sanitize
FUZZ_BUILD := $(BUILD)/fuzz
# The packages' own tree: installed under /usr, with Debian's hardening flags, without tests.
PACKAGE_BUILD := $(BUILD)/package
FUZZ_SECONDS ?= 60
# What `make test` gives each fuzz target.
FUZZ_TEST_SECONDS ?= 15
JOBS := $(shell nproc 2>/dev/null || echo 2)
# The board the game posts to, "HOST[:PORT]" (port 80 by default; empty: none, and the end
# screen says so), and the home page that the AppStream metainfo and the packages name.
# `make package KULIMBARA_HIGHSCORE_HOST=scores.example.org KULIMBARA_HOMEPAGE=https://...`
KULIMBARA_HIGHSCORE_HOST ?=
KULIMBARA_HOMEPAGE ?= https://kulimbara.example.org
BOARD_FLAGS = -DKULIMBARA_HIGHSCORE_HOST="$(KULIMBARA_HIGHSCORE_HOST)" -DKULIMBARA_HOMEPAGE="$(KULIMBARA_HOMEPAGE)"

.PHONY: all deps configure configure-player build run sim test test-plain test-sanitize test-fuzz fuzz fuzz-build \
        memcheck golden bench format clean font-table font-preview package package-test screenshots

all: build

deps:
	@bash scripts/install-deps.sh test

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKULIMBARA_WERROR=$(WERROR) \
	  -DBUILD_TESTING=ON -DKULIMBARA_SERVICE=ON $(BOARD_FLAGS) >/dev/null

# A player's tree: the game alone, without tests or the service. A tree that exists already is
# kept as it is, so that playing after testing rebuilds nothing.
configure-player:
	@bash scripts/install-deps.sh run
	@[ -f $(BUILD)/CMakeCache.txt ] || cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DBUILD_TESTING=OFF -DKULIMBARA_SERVICE=OFF $(BOARD_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

run: configure-player
	@cmake --build $(BUILD) -j $(JOBS) --target kulimbara
	@./$(BUILD)/kulimbara $(ARGS)

sim: configure-player
	@cmake --build $(BUILD) -j $(JOBS) --target kulimbara-sim
	./$(BUILD)/kulimbara-sim --all --keys toggle:30

test: test-plain test-sanitize test-fuzz package-test

test-plain: WERROR := ON
test-plain: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKULIMBARA_WERROR=ON \
	  -DKULIMBARA_SANITIZE=ON >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && ctest --output-on-failure -j $(JOBS)

memcheck: build
	cd $(BUILD) && ctest --output-on-failure -V -R '^game-memcheck$$'

# The fuzz tree holds only the core, the service and the fuzz targets, built with clang.
fuzz-build:
	@bash scripts/install-deps.sh fuzz
	@cmake -S . -B $(FUZZ_BUILD) -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKULIMBARA_FUZZ=ON >/dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz: fuzz-build
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_SECONDS)

test-fuzz: fuzz-build
	fuzz/run.sh $(FUZZ_BUILD) $(FUZZ_TEST_SECONDS)

package:
	@bash scripts/install-deps.sh package
	@export DEB_BUILD_MAINT_OPTIONS=hardening=+all; \
	  cmake -S . -B $(PACKAGE_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
	  -DBUILD_TESTING=OFF -DKULIMBARA_WERROR=OFF $(BOARD_FLAGS) \
	  -DCMAKE_CXX_FLAGS="$$(dpkg-buildflags --get CPPFLAGS) $$(dpkg-buildflags --get CXXFLAGS)" \
	  -DCMAKE_EXE_LINKER_FLAGS="$$(dpkg-buildflags --get LDFLAGS)" >/dev/null
	@cmake --build $(PACKAGE_BUILD) -j $(JOBS) --target install-files
	@rm -f $(PACKAGE_BUILD)/packages/*.deb
	@cd $(PACKAGE_BUILD) && cpack >/dev/null
	@rm -f $(BUILD)/kulimbara*_amd64.deb && cp $(PACKAGE_BUILD)/packages/*.deb $(BUILD)/
	@ls -1 $(BUILD)/*.deb

package-test: deps package
	tests/package_test.sh $(BUILD)/kulimbara_*_amd64.deb $(BUILD)/kulimbara-highscore_*_amd64.deb

golden: build
	tests/golden_test.sh $(BUILD)/kulimbara-sim tests/golden/sim.json --write
	KULIMBARA_RECORD_GOLDEN=1 $(BUILD)/core-tests --gtest_brief=1 \
	  --gtest_filter=Levels.MatchTheRecordedLayouts:Replay.TheRecordedWholeGameStillVerifies

bench:
	@bash scripts/install-deps.sh bench
	@cmake -S . -B $(BUILD) -DKULIMBARA_SERVICE=ON $$([ -f $(BUILD)/CMakeCache.txt ] || \
	  echo -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS) --target kulimbara kulimbara-core-bench \
	  kulimbara-highscore-bench kulimbara-render-bench
	./$(BUILD)/kulimbara-core-bench
	./$(BUILD)/kulimbara-highscore-bench
	@render="./$(BUILD)/kulimbara-render-bench && bench/game_frames.sh ./$(BUILD)/kulimbara && bench/paused_cpu.sh ./$(BUILD)/kulimbara"; \
	if [ -n "$${DISPLAY:-}" ]; then sh -c "$$render"; \
	else KULIMBARA_SCREEN=1920x1080x24 tests/with_display.sh sh -c "$$render"; fi

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
