# Two commands set everything up on a fresh Debian machine:
#   make run    install what is missing, build, start the editor here
#   make test   install what is missing, build, run every test
BUILD ?= build
JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_FLAGS ?= -DCMAKE_BUILD_TYPE=RelWithDebInfo

.PHONY: run test build clean

run:
	@scripts/install-deps run
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS) --target gantrix
	$(BUILD)/gantrix

build:
	@scripts/install-deps test
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j$(JOBS)

clean:
	rm -rf $(BUILD)

# Measurements, not part of `make test`. BENCH_ARGS passes options to Google Benchmark,
# e.g. make bench BENCH_ARGS=--benchmark_format=json
.PHONY: bench
bench:
	@scripts/install-deps bench
	@cmake -S . -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DGANTRIX_BUILD_TESTS=OFF -DGANTRIX_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BUILD)-bench -j$(JOBS) --target gantrix_bench
	scripts/with-xvfb $(BUILD)-bench/gantrix_bench $(BENCH_ARGS)
