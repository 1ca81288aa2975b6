# Front door: every target installs what is missing, configures and builds first.
BUILD      ?= build
FUZZ_BUILD ?= build-fuzz
SANITIZE_BUILD ?= build-sanitize
# Seconds each fuzz target runs for one `make fuzz`.
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
# Where `make install` puts the programs; DESTDIR stages the whole tree under another root.
PREFIX     ?= /usr/local
DESTDIR    ?=

.PHONY: all deps configure build run test install package bench fuzz sanitize screenshots format format-all clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo

configure: deps $(BUILD)/build.ninja

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run-window $(BUILD)/bin

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix "$(PREFIX)"

# The Debian package, built in $(BUILD)/package and copied here.
package: build
	rm -rf $(BUILD)/package
	cd $(BUILD) && cpack -G DEB -B "$$PWD/package"
	cp $(BUILD)/package/marrowtide_*.deb .

screenshots: build
	@scripts/screenshots $(BUILD)/bin $(BUILD)/screenshots

# Dumps of real diskettes full of files, made once from the list in bench/ (mtools).
BENCH_DUMPS = $(BUILD)/bench-dumps
$(BENCH_DUMPS)/real720.img $(BENCH_DUMPS)/real144.img $(BENCH_DUMPS)/real288.img: \
    bench/make-real-diskette bench/real-diskette.list | deps
	@mkdir -p $(BENCH_DUMPS)
	bench/make-real-diskette $(DUMP_KB) $@
$(BENCH_DUMPS)/real720.img: DUMP_KB = 720
$(BENCH_DUMPS)/real144.img: DUMP_KB = 1440
$(BENCH_DUMPS)/real288.img: DUMP_KB = 2880

bench: build $(BENCH_DUMPS)/real720.img $(BENCH_DUMPS)/real144.img $(BENCH_DUMPS)/real288.img
	$(BUILD)/bin/marrowtide-bench --dumps=$(BENCH_DUMPS)
	bench/process-bench $(BUILD)/bin $(BENCH_DUMPS)

$(FUZZ_BUILD)/build.ninja: | deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARROWTIDE_FUZZ=ON

fuzz: deps $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	@scripts/run-fuzzers $(FUZZ_BUILD)/bin $(FUZZ_SECONDS)

# The whole suite built with gcc under ASan and UBSan, leak checks included. The tests' discovery
# runs the programs at build time, so the build needs the sanitizers' settings as well as ctest.
SANITIZER_ENV = ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

$(SANITIZE_BUILD)/build.ninja: | deps
	CC=gcc CXX=g++ cmake -S . -B $(SANITIZE_BUILD) -G Ninja \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMARROWTIDE_SANITIZE=ON

sanitize: deps $(SANITIZE_BUILD)/build.ninja
	$(SANITIZER_ENV) cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && $(SANITIZER_ENV) ctest --output-on-failure -j $(JOBS)

# clang-format: `make format` shapes the lines this branch changed, `make format-all` every source.
format: deps
	@scripts/format

format-all: deps
	@scripts/format all

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(SANITIZE_BUILD)
