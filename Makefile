# One command for each thing a developer does. Every target first installs
# what is missing (scripts/setup.sh), then configures and builds.
BUILD ?= build
CMAKE_FLAGS ?=
JOBS ?= $(shell nproc)

.PHONY: all setup configure build test package demo bench fuzz screenshots clean

all: build

setup:
	@bash scripts/setup.sh

configure: setup
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j 2 --timeout 300

# A Debian package of every program, in $(BUILD)/.
package: build
	@cmake --build $(BUILD) --target package

demo: build
	@bash scripts/demo.sh $(BUILD)

bench: build
	@bash scripts/bench.sh $(BUILD)

fuzz: setup
	@bash scripts/fuzz.sh

screenshots: build
	@bash scripts/screenshots.sh $(BUILD)

clean:
	@rm -rf $(BUILD)
