# The front doors: `make run` and `make test` install what is missing, build, then run.
BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
RELEASE_BUILD ?= build-release
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
JOBS       ?= $(shell nproc)
# A compiler cache, when the machine has one, makes rebuilds in several trees cheap.
LAUNCHER   := $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
# Paths relative to the checkout, so that another clone of the same sources hits the same cache.
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
# Warnings are errors in the trees made here; a plain `cmake` configure leaves them warnings.
WERROR     := -DVESK_WERROR=ON
SANITIZERS := $(CURDIR)/tests/sanitizers
# The suites that run queues and threads: the core queues, the file engine, the clipboard store
# and index, the application's stores, and the X11 services with their worker thread.
TSAN_SUITES := base_tests files_tests clipboard_tests app_tests x11_tests

.PHONY: all deps build run test bench asan tsan release fuzz package install format format-check tidy clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/build.ninja:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WERROR) $(LAUNCHER)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -x $(BUILD)/app/vesk ]; then exec $(BUILD)/app/vesk; \
	else $(BUILD)/tools/vesk-tool help; fi

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b || exit 1; done
	@if [ -x bench/files_compare.sh ]; then bench/files_compare.sh $(BUILD); fi
	@if [ -x $(BUILD)/app/vesk ]; then python3 bench/panel_latency.py $(BUILD)/app/vesk; fi

# Every suite, the application and the Xvfb end-to-end tests included, under AddressSanitizer,
# LeakSanitizer and UndefinedBehaviorSanitizer.
$(ASAN_BUILD)/build.ninja:
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVESK_SANITIZE=address \
	  $(WERROR) $(LAUNCHER) -DVESK_BUILD_BENCH=OFF

ASAN_ENV := ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1 \
  LSAN_OPTIONS=suppressions=$(SANITIZERS)/lsan.supp:print_suppressions=0 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

asan: deps $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	$(ASAN_ENV) ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The threaded suites under ThreadSanitizer; only their executables are built, so ctest skips
# the placeholders of the others.
$(TSAN_BUILD)/build.ninja:
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_SANITIZE=thread \
	  $(WERROR) $(LAUNCHER) -DVESK_BUILD_BENCH=OFF

tsan: deps $(TSAN_BUILD)/build.ninja
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_SUITES) vesk-tool
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$(SANITIZERS)/tsan.supp \
	  ctest --test-dir $(TSAN_BUILD) --output-on-failure -j $(JOBS) -E '_NOT_BUILT'

# A packager's build: optimised, warnings as errors; compiled, not run.
$(RELEASE_BUILD)/build.ninja:
	cmake -S . -B $(RELEASE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release $(WERROR) $(LAUNCHER)

release: deps $(RELEASE_BUILD)/build.ninja
	cmake --build $(RELEASE_BUILD) -j $(JOBS)

$(FUZZ_BUILD)/build.ninja:
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVESK_FUZZ=ON -DVESK_BUILD_APP=OFF -DVESK_BUILD_BENCH=OFF $(WERROR) $(LAUNCHER)

fuzz: deps $(FUZZ_BUILD)/build.ninja
	cmake --build $(FUZZ_BUILD) -j $(JOBS) --target fuzzers
	@for f in $(FUZZ_BUILD)/fuzz/fuzz_*; do \
	  name=$$(basename $$f); corpus=$(FUZZ_BUILD)/corpus/$$name; mkdir -p $$corpus; \
	  echo "== $$name for $(FUZZ_SECONDS) s"; \
	  $$f -max_total_time=$(FUZZ_SECONDS) -timeout=5 -rss_limit_mb=2048 $$corpus fuzz/corpus/$$name || exit 1; \
	done

# A Debian package of the main tree (built as Debian builds, -O2 -g, then stripped) in
# $(BUILD)/packages/; its Depends come from dpkg-shlibdeps.
package: build
	cd $(BUILD) && cpack -G DEB -B packages

# Vesk for you alone, under PREFIX (default ~/.local), in the layout the updater switches.
install: build
	scripts/install-user $(BUILD)

format:
	git ls-files '*.h' '*.cpp' | xargs clang-format -i

format-check:
	git ls-files '*.h' '*.cpp' | xargs clang-format --dry-run -Werror

# clang-tidy over the sources changed since BASE (default: the commit before HEAD), with the
# compile commands of the main build.
tidy: build
	JOBS=$(JOBS) scripts/tidy-changed $(BUILD) $(or $(BASE),HEAD~1)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(RELEASE_BUILD) $(FUZZ_BUILD)
