# make        builds everything into build/dist/
# make test   installs what is missing, builds, and runs every test (native and under Wine)
# make demo   packs the example launcher and runs it under Wine with the log on
BUILD_TYPE ?= Release
WIN := build/win
NATIVE := build/native

.PHONY: all deps build test demo clean

all: build

deps:
	@scripts/setup-deps

build: deps
	cmake -S . -B $(WIN) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null
	cmake --build $(WIN) -j $$(nproc)
	cmake -S . -B $(NATIVE) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE) >/dev/null
	cmake --build $(NATIVE) -j $$(nproc)

test: build
	scripts/run-tests

demo: build
	scripts/demo

clean:
	rm -rf build
