# The two commands a newcomer needs: `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)
SANITIZE_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
COVERAGE_BUILD ?= build-coverage
FUZZ_SECONDS ?= 600
FUZZ_PARALLEL ?= 3
# CI sets WERROR=ON: warnings fail the build there.
WERROR ?= OFF

.PHONY: deps build run test test-old-git bench sanitize fuzz coverage clean format check-format

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release -DBRACKWEN_WERROR=$(WERROR)

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

# Only what it runs: the server and the ask-pass helper git calls.
run: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS) --target brackwen-core ask-pass
	$(BUILD)/bin/brackwen-core

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

# The endpoint table with git 2.30 and 2.34 first on PATH, built once from ../shared/old-git
# into $$XDG_CACHE_HOME/brackwen-old-git (or ~/.cache); skipped where those sources are absent.
test-old-git: build
	scripts/test-old-git $(BUILD)

# The endpoints against the bare git they wrap, on repositories generated once (100,000
# commits, 50,000 files) and cached under $$XDG_CACHE_HOME/brackwen-bench or /tmp/brackwen-bench.
# BENCH_ARGS="--runs 15" and the like pass through.
bench: build
	$(BUILD)/bin/endpoint_suite $(BENCH_ARGS)

# The whole suite again under AddressSanitizer and UndefinedBehaviorSanitizer. -O1 with line
# tables only compiles in half the time of -O2 -g, and stack traces still name the lines.
sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" -DBRACKWEN_SANITIZE=ON -DBRACKWEN_WERROR=$(WERROR)
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) --timeout 600

# Each fuzz target under libFuzzer for FUZZ_SECONDS, FUZZ_PARALLEL at a time (needs clang).
fuzz:
	@scripts/install-deps fuzz
	cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DBRACKWEN_FUZZ=ON
	cmake --build $(FUZZ_BUILD) --target fuzz -j $(JOBS)
	scripts/run-fuzz $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_PARALLEL)

# Line and function coverage of src/ per file by the whole suite, the servers the tests start
# included, unoptimised so that lines count as written. The counts start from zero each time;
# the table is also kept in $(COVERAGE_BUILD)/coverage.json for `scripts/coverage-report
# --against`. It fails when a test failed, after printing the table.
coverage:
	@scripts/install-deps coverage
	cmake -S . -B $(COVERAGE_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DBRACKWEN_COVERAGE=ON \
	  -DBRACKWEN_WERROR=$(WERROR)
	cmake --build $(COVERAGE_BUILD) -j $(JOBS)
	find $(COVERAGE_BUILD) -name '*.gcda' -delete
	cd $(COVERAGE_BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600; status=$$?; \
	  cd $(CURDIR) && scripts/coverage-report --jobs $(JOBS) $(COVERAGE_BUILD) && exit $$status

format:
	git ls-files 'src/*.[ch]pp' 'tests/*.[ch]pp' 'bench/*.[ch]pp' 'ask-pass/*.[ch]pp' | xargs clang-format -i

check-format:
	@scripts/install-deps format
	git ls-files 'src/*.[ch]pp' 'tests/*.[ch]pp' 'bench/*.[ch]pp' 'ask-pass/*.[ch]pp' | \
	  xargs clang-format --dry-run -Werror

clean:
	rm -rf $(BUILD) $(SANITIZE_BUILD) $(FUZZ_BUILD) $(COVERAGE_BUILD)
