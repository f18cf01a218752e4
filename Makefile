# Entry points for people and CI. Everything builds out of tree under build/.
#   make run    set up, build, install Telvane on the default device and start it beside the home screen
#   make test   set up, build with warnings as errors and run every test
#   make sanitize  the tests again under AddressSanitizer+UBSan, then under ThreadSanitizer
#   make bench  build and run the benchmarks
#   make fuzz   build the fuzz targets with clang and run each for FUZZ_SECONDS (60)

BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=
FUZZ_SECONDS ?= 60

.PHONY: setup configure build run test sanitize asan tsan bench fuzz format clean

setup:
	@scripts/setup.sh

configure: setup
	cmake -S . -B $(BUILD) -G Ninja -DTELVANE_WERROR=ON $(CMAKE_FLAGS)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@scripts/run.sh $(BUILD)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS) --timeout 300

asan: setup
	cmake -S . -B $(BUILD)-asan -G Ninja -DTELVANE_WERROR=OFF -DTELVANE_SANITIZE=address -DTELVANE_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD)-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 ctest --test-dir $(BUILD)-asan --output-on-failure -j $(JOBS) --timeout 600

# Every test, the user interface and the programs the integration tests start included, under
# ThreadSanitizer. tests/tsan.supp silences only races inside uninstrumented system libraries.
# Reports go to files because the programs the tests start write their errors into the test's
# temporary device; any report fails the run, even one whose test passed.
TSAN_REPORTS = $(CURDIR)/$(BUILD)-tsan/reports
tsan: setup
	cmake -S . -B $(BUILD)-tsan -G Ninja -DTELVANE_WERROR=OFF -DTELVANE_SANITIZE=thread -DTELVANE_BUILD_BENCH=OFF -DTELVANE_BUILD_UI=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD)-tsan -j $(JOBS)
	rm -rf $(TSAN_REPORTS) && mkdir -p $(TSAN_REPORTS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$(CURDIR)/tests/tsan.supp log_path=$(TSAN_REPORTS)/tsan" \
	  ctest --test-dir $(BUILD)-tsan --output-on-failure -j $(JOBS) --timeout 600; rc=$$?; \
	if ls $(TSAN_REPORTS)/tsan.* >/dev/null 2>&1; then cat $(TSAN_REPORTS)/tsan.*; exit 1; fi; exit $$rc

sanitize: asan tsan

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b || exit 1; done

# Every library is instrumented for coverage and checked by AddressSanitizer and UBSan; each
# target runs from its seed corpus (new inputs go to a corpus in the build tree) for a bounded
# time and fails on the first crash.
fuzz: setup
	@if ! command -v clang++ >/dev/null; then echo "fuzz: clang++ not found, skipped"; exit 0; fi; \
	cmake -S . -B $(BUILD)-fuzz -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	  -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
	  -DTELVANE_BUILD_UI=OFF -DTELVANE_BUILD_BENCH=OFF $(CMAKE_FLAGS) && \
	cmake --build $(BUILD)-fuzz -j $(JOBS) --target fuzz_xml_import && \
	mkdir -p $(BUILD)-fuzz/corpus/xml && \
	$(BUILD)-fuzz/tests/fuzz/fuzz_xml_import -max_total_time=$(FUZZ_SECONDS) -max_len=8192 \
	  -dict=tests/fuzz/xml.dict -artifact_prefix=$(BUILD)-fuzz/ \
	  $(BUILD)-fuzz/corpus/xml tests/fuzz/corpus/xml

format:
	clang-format -i $$(git ls-files '*.h' '*.cpp')

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz
