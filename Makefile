# Entry points for newcomers and CI. Everything builds below build/.
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
ifneq ($(CI),)
CMAKE_ARGS += -DFWD_WERROR=ON
endif
CTEST_ARGS ?= --output-on-failure -j $(JOBS)
# Tests that panic on purpose would each dump core into the build tree; the
# core-dump tests raise the soft limit for themselves.
NO_CORES   = ulimit -S -c 0;
# Suites that run a second time under ThreadSanitizer.
TSAN_TESTS ?= Concurrency|Supervision\.|FwdAgentTest\.WholeLife

.PHONY: all deps build test test-asan test-tsan fuzz bench demo install package clean

all: build

deps:
	@sh scripts/deps.sh

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja $(CMAKE_ARGS)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	$(NO_CORES) cd $(BUILD) && ctest $(CTEST_ARGS)

test-asan: deps
	cmake -S . -B $(BUILD)/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DFWD_SANITIZE=address $(CMAKE_ARGS)
	cmake --build $(BUILD)/asan -j $(JOBS)
	$(NO_CORES) cd $(BUILD)/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest $(CTEST_ARGS)

test-tsan: deps
	cmake -S . -B $(BUILD)/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFWD_SANITIZE=thread $(CMAKE_ARGS)
	cmake --build $(BUILD)/tsan -j $(JOBS)
	$(NO_CORES) cd $(BUILD)/tsan && TSAN_OPTIONS=halt_on_error=1 ctest $(CTEST_ARGS) -R '$(TSAN_TESTS)'

fuzz: deps
	sh scripts/fuzz.sh $(BUILD)/fuzz

bench: deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DFWD_BUILD_BENCH=ON $(CMAKE_ARGS)
	cmake --build $(BUILD) -j $(JOBS)
	sh scripts/bench.sh $(BUILD)

demo: build
	sh scripts/demo.sh $(BUILD)

# The tool, its compressed man page and bash completion; DESTDIR is honoured.
PREFIX ?= /usr/local
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX) --component fwdmaps

# A .deb in $(BUILD)/package/; scripts/check-package.sh installs and tries it.
package: build
	cd $(BUILD) && cpack -G DEB -B package

clean:
	rm -rf $(BUILD)
