# The project's commands. Each installs what is missing first (Debian 12, as root).
#   make demo   build the plug-in and play a scripted session in the stand-in player
#   make test   build both configurations and run every test
#   make build  the cross build alone: build/win32/XMP-Nowglow.dll
#   make bench  the benchmarks of the portable code
#   make lint   the code health gates: clang-format, clang-tidy, cppcheck (make test runs them too)
#   make format rewrite the sources in the project's layout (.clang-format)
#   make fuzz   fuzz the plug-in for FUZZ_SECONDS (default 300) from the seed corpus
#   make dist   the release package dist/XMP-Nowglow-<version>.zip
#   make windows-tests  the Windows test bundle dist/XMP-Nowglow-<version>-tests.zip (run-tests.cmd)
#   make assets        render the Discord art assets and the README's profile mock-up
#   make screenshots   take the README's screenshot of the settings dialog
# DISCORD_APP_ID=<17 to 20 digits> builds for another Discord application; without
# it the build goes back to the application named in CMakeLists.txt.

JOBS ?= 2
DISCORD_APP_ID ?=
APP_ID_FLAG := $(if $(DISCORD_APP_ID),-DNOWGLOW_DISCORD_APP_ID=$(DISCORD_APP_ID),-UNOWGLOW_DISCORD_APP_ID)
FUZZ_SECONDS ?= 300
BENCH_ARGS ?=

.PHONY: all deps build windows-tree native tsan bench-build fuzz-build wineprefix test demo bench fuzz dist windows-tests
.PHONY: assets screenshots clean
.PHONY: lint format

all: build

deps:
	@cmake/install-deps.sh

# The five build trees are the presets of CMakePresets.json.
build: deps
	@cmake --preset win32 $(APP_ID_FLAG) >/dev/null
	@cmake --build --preset win32 -j $(JOBS)

native: deps
	@cmake --preset native >/dev/null
	@cmake --build --preset native -j $(JOBS)

tsan: deps
	@cmake --preset tsan >/dev/null
	@cmake --build --preset tsan -j $(JOBS)

bench-build: deps
	@cmake --preset bench >/dev/null
	@cmake --build --preset bench -j $(JOBS)

fuzz-build: deps
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS)

wineprefix: deps
	@cmake/wine-prefix.sh

# The tree the Wine-run tests and the demo use: build/win32, or build/win64
# where no 32-bit program runs (cmake/wine-env.sh).
windows-tree: build
	@JOBS=$(JOBS) cmake/windows-tree.sh $(APP_ID_FLAG) >/dev/null

# The gates run before the tests, the tests run whatever the gates found, and
# either failing fails the run.
test: build windows-tree native tsan fuzz-build wineprefix
	@cmake/lint.sh; lint=$$?; cmake/run-tests.sh; tests=$$?; \
	if [ $$lint -ne 0 ]; then echo "lint failed (its report is above): make format, then fix the findings"; fi; \
	[ $$lint -eq 0 ] && [ $$tests -eq 0 ]

lint: deps
	@cmake/lint.sh

format: deps
	@cmake/lint.sh format

demo: build windows-tree wineprefix
	@tree=$$(JOBS=$(JOBS) cmake/windows-tree.sh $(APP_ID_FLAG)) && \
		cmake/wine-run.sh $$tree/nowglow-demo.exe $$tree/XMP-Nowglow.dll

bench: bench-build
	@build/bench/nowglow_bench $(BENCH_ARGS)

# One fuzzing job; what it finds goes to build/fuzz/corpus, crashes to build/fuzz/artifacts.
fuzz: fuzz-build
	@mkdir -p build/fuzz/corpus build/fuzz/artifacts
	@build/fuzz/nowglow_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=4096 -print_final_stats=1 \
		-artifact_prefix=build/fuzz/artifacts/ build/fuzz/corpus tests/fuzz/corpus

dist: build
	@cmake/make-dist.sh build/win32 dist

windows-tests: build
	@cmake/make-tests-bundle.sh build/win32 dist

assets: deps
	@cmake/render-art.sh

screenshots: build
	@cmake/take-screenshot.sh build/win32 docs/settings-dialog.png

clean:
	rm -rf build
