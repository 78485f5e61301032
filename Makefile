# The two commands a newcomer needs: `make run` and `make test`.
BUILD ?= build
JOBS ?= $(shell nproc)

.PHONY: deps build run test bench clean format

deps:
	@scripts/install-deps

$(BUILD)/build.ninja: | deps
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Release

build: deps $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

run: build
	$(BUILD)/bin/brackwen-core

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) --timeout 600

# The endpoints against the bare git they wrap, on repositories generated once (100,000
# commits, 50,000 files) and cached under $$XDG_CACHE_HOME/brackwen-bench or /tmp/brackwen-bench.
# BENCH_ARGS="--runs 15" and the like pass through.
bench: build
	$(BUILD)/bin/endpoint_suite $(BENCH_ARGS)

format:
	find src tests -name '*.cpp' -o -name '*.hpp' | xargs clang-format -i

clean:
	rm -rf $(BUILD)
