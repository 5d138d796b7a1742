# The project's commands. Each installs what is missing first (Debian 12, as root).
#   make demo   build the plug-in and play a scripted session in the stand-in player
#   make test   build both configurations and run every test
#   make build  the cross build alone: build/win32/XMP-Nowglow.dll
#   make bench  the benchmarks of the portable code

JOBS ?= 2
DISCORD_APP_ID ?=
APP_ID_FLAG := $(if $(DISCORD_APP_ID),-DNOWGLOW_DISCORD_APP_ID=$(DISCORD_APP_ID))

.PHONY: all deps build native tsan bench-build wineprefix test demo bench clean

all: build

deps:
	@cmake/install-deps.sh

build: deps
	@cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake \
		-DCMAKE_BUILD_TYPE=Release $(APP_ID_FLAG) >/dev/null
	@cmake --build build/win32 -j $(JOBS)

native: deps
	@cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug -DNOWGLOW_SANITIZE=address,undefined >/dev/null
	@cmake --build build/native -j $(JOBS)

tsan: deps
	@cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNOWGLOW_SANITIZE=thread >/dev/null
	@cmake --build build/tsan -j $(JOBS)

bench-build: deps
	@cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DNOWGLOW_SANITIZE=none >/dev/null
	@cmake --build build/bench -j $(JOBS)

wineprefix: deps
	@cmake/wine-prefix.sh

test: build native tsan wineprefix
	@cmake/run-tests.sh

demo: build wineprefix
	@cmake/wine-run.sh build/win32/nowglow-demo.exe build/win32/XMP-Nowglow.dll

bench: bench-build
	@build/bench/nowglow_bench

clean:
	rm -rf build
