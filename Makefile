# Entry point: `make test` installs what is missing, builds with sanitizers and runs every test, then
# checks what an optimised library exports, runs the concurrency suites again under ThreadSanitizer and
# gives the readers of untrusted JSON a short fuzzing run; `make bench` builds an optimised configuration
# and runs the benchmarks, the allocator benchmark once per allocator (tools/run-alloc-bench).
BUILD_DIR ?= build
TSAN_DIR ?= build-tsan
RELEASE_DIR ?= build-release
BENCH_DIR ?= build-bench
FUZZ_DIR ?= build-fuzz
# Inputs per fuzz target in `make test`, from a fixed seed so that a run can be repeated.
FUZZ_RUNS ?= 200000
JOBS ?= $(shell nproc)

.PHONY: all deps bench-deps build test tsan exports fuzz bench clean

all: build

deps:
	@tools/install-deps

bench-deps:
	@tools/install-deps --bench

$(BUILD_DIR)/build.ninja: | deps
	cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELK_SANITIZE=ON -DVELK_WERROR=ON

build: deps $(BUILD_DIR)/build.ninja
	cmake --build $(BUILD_DIR) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD_DIR) -j $(JOBS) --output-on-failure --timeout 600
	$(MAKE) exports
	$(MAKE) tsan
	$(MAKE) fuzz

$(TSAN_DIR)/build.ninja: | deps
	cmake -S . -B $(TSAN_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVELK_TSAN=ON -DVELK_WERROR=ON

tsan: deps $(TSAN_DIR)/build.ninja
	cmake --build $(TSAN_DIR) -j $(JOBS) --target velk_runtime_tests velk_containers_tests velk_json_tests
	ctest --test-dir $(TSAN_DIR) -j $(JOBS) --output-on-failure --timeout 600

$(RELEASE_DIR)/build.ninja: | deps
	cmake -S . -B $(RELEASE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELK_WERROR=ON

exports: deps $(RELEASE_DIR)/build.ninja
	cmake --build $(RELEASE_DIR) -j $(JOBS) --target velk_exports_tests
	ctest --test-dir $(RELEASE_DIR) -j $(JOBS) --output-on-failure --timeout 600 -R '^ExportsTest\.'

$(FUZZ_DIR)/build.ninja: | deps
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
		-DCMAKE_CXX_COMPILER=clang++ -DVELK_BUILD_TESTS=OFF -DVELK_BUILD_FUZZ=ON

fuzz: deps $(FUZZ_DIR)/build.ninja
	cmake --build $(FUZZ_DIR) -j $(JOBS) --target velk_fuzz_binary_json velk_fuzz_json_text velk_fuzz_xml velk_fuzz_xml_bag velk_fuzz_xml_dom velk_fuzz_arrays velk_fuzz_bag_binary
	$(FUZZ_DIR)/fuzz/velk_fuzz_binary_json -seed=1 -runs=$(FUZZ_RUNS) -max_len=4096
	$(FUZZ_DIR)/fuzz/velk_fuzz_json_text -seed=1 -runs=$(FUZZ_RUNS) -max_len=4096
	$(FUZZ_DIR)/fuzz/velk_fuzz_xml -seed=1 -runs=$(FUZZ_RUNS) -max_total_time=30 -max_len=4096 -dict=fuzz/xml.dict
	$(FUZZ_DIR)/fuzz/velk_fuzz_xml_bag -seed=1 -runs=$(FUZZ_RUNS) -max_total_time=30 -max_len=4096 -dict=fuzz/xml.dict
	$(FUZZ_DIR)/fuzz/velk_fuzz_xml_dom -seed=1 -runs=$(FUZZ_RUNS) -max_total_time=30 -max_len=4096 -dict=fuzz/xml.dict
	$(FUZZ_DIR)/fuzz/velk_fuzz_arrays -seed=1 -runs=$(FUZZ_RUNS) -max_total_time=30 -max_len=4096
	$(FUZZ_DIR)/fuzz/velk_fuzz_bag_binary $(FUZZ_DIR)/corpus/bag_binary -seed=1 -runs=$(FUZZ_RUNS) -max_total_time=30 -max_len=4096

$(BENCH_DIR)/build.ninja: | bench-deps
	cmake -S . -B $(BENCH_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELK_BUILD_TESTS=OFF -DVELK_BUILD_BENCH=ON

bench: bench-deps $(BENCH_DIR)/build.ninja
	cmake --build $(BENCH_DIR) -j $(JOBS)
	$(BENCH_DIR)/bench/velk_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
	tools/run-alloc-bench $(BENCH_DIR)

# `make demo`: one update of a sample application by an optimised updater, its traces shown; the demo's
# folder is kept under /tmp.
DEMO_DIR ?= build-demo

.PHONY: demo

demo:
	@DEMO_BUILD_DIR=$(DEMO_DIR) JOBS=$(JOBS) tools/demo

clean:
	rm -rf $(BUILD_DIR) $(TSAN_DIR) $(RELEASE_DIR) $(BENCH_DIR) $(FUZZ_DIR)
