# The two commands a newcomer needs:
#   make run    installs what is missing, builds, writes the demo library and analyses it
#   make test   installs what is missing, builds and runs every test
BUILD ?= build
GENERATOR ?= Ninja
CMAKE_FLAGS ?=
FUZZ_BUILD ?= build-fuzz
TSAN_BUILD ?= build-tsan
# The tests whose code runs on several threads: the walker, the removal, the
# deletion run, the walk budget and the batch's intakes side by side (on the
# core: the window's workers hand over through Qt's thread pool, which is not
# built for ThreadSanitizer, so every hand-over there would read as a race).
# ThreadSanitizer builds and runs only these.
TSAN_TESTS ?= tree_walker_test folder_size_test folder_removal_test deletion_run_test \
    walk_budget_test batch_scope_test
FUZZ_SECONDS ?= 20
# The demo library is sparse (tens of GB apparent size): it stays in the build
# folder, out of the source tree.
DEMO_DIR ?= $(BUILD)/demo

.PHONY: all deps configure build run test tsan fuzz-smoke bench bench-shares package screenshots format format-check clean

all: build

deps:
	scripts/install-deps

configure: deps
	cmake -S . -B $(BUILD) -G $(GENERATOR) -DVELLICO_BUILD_GUI=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j$$(nproc)

# Builds only the two programs it runs: the tests, benchmarks and the window
# wait for `make test` / `make build`.
run: configure
	cmake --build $(BUILD) -j$$(nproc) --target vellico-cli vellico-make-library
	$(BUILD)/tools/vellico-make-library demo $(DEMO_DIR) >/dev/null
	$(BUILD)/src/cli/vellico-cli analyze "$(DEMO_DIR)/Mariage Dupont.fcpbundle"

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$$(nproc)
	$(MAKE) --no-print-directory fuzz-smoke

# The threaded tests under ThreadSanitizer (clang), without the window. One
# at a time: the walker's tests of how many threads help measure the
# processor, and a test running beside them skews what they see.
tsan: deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(TSAN_BUILD) -G $(GENERATOR) -DVELLICO_SANITIZE_THREAD=ON \
	    -DVELLICO_BUILD_GUI=OFF -DVELLICO_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(TSAN_BUILD) -j$$(nproc) --target $(TSAN_TESTS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --test-dir $(TSAN_BUILD) \
	    --output-on-failure -j1 -L "^($$(echo $(TSAN_TESTS) | tr ' ' '|'))$$"

# Builds the libFuzzer targets with clang and runs each one briefly from an
# empty corpus: a smoke test, not a campaign.
fuzz-smoke: deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -G $(GENERATOR) -DVELLICO_FUZZ=ON -DVELLICO_BUILD_GUI=OFF
	cmake --build $(FUZZ_BUILD) -j$$(nproc)
	set -e; for f in $(FUZZ_BUILD)/fuzz/*_fuzzer; do \
	    echo "fuzzing $$f for $(FUZZ_SECONDS) s"; \
	    if ! $$f -max_total_time=$(FUZZ_SECONDS) -rss_limit_mb=2048 > $$f.log 2>&1; then \
	        tail -60 $$f.log; exit 1; \
	    fi; \
	    tail -2 $$f.log; \
	done

bench: build
	bench/analyze_bench.sh $(BUILD)

# The analysis and the deletion on shares set up for the purpose (sshfs with
# a netem delay, or the delay proxy where the kernel has no netem; a FUSE share
# that only adds latency); root, skipped otherwise.
bench-shares: build
	bench/share_bench.sh $(BUILD)

# Two .deb files in $(BUILD): vellico-cli (command-line tool, no Qt) and
# vellico (the application, which depends on vellico-cli).
package: build
	cmake --build $(BUILD) --target package

# Every state and sheet of the main window as PNG, from a real window under Xvfb.
screenshots: build
	scripts/screenshots $(BUILD) docs/screenshots

format:
	find src tests tools bench fuzz -name '*.cpp' -o -name '*.hpp' | xargs clang-format -i

format-check:
	find src tests tools bench fuzz -name '*.cpp' -o -name '*.hpp' | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) $(FUZZ_BUILD) $(TSAN_BUILD) $(DEMO_DIR)
