# Entry points for people and CI. Everything builds out of tree under build/.
#   make run    set up, build, install Telvane on the default device and start it
#   make test   set up, build with warnings as errors and run every test
#   make sanitize  the tests again under AddressSanitizer+UBSan, the threading tests under TSan
#   make bench  build and run the benchmarks

BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: setup configure build run test sanitize asan tsan bench format clean

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
	cmake -S . -B $(BUILD)-asan -G Ninja -DTELVANE_WERROR=ON -DTELVANE_SANITIZE=address -DTELVANE_BUILD_BENCH=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD)-asan -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 ctest --test-dir $(BUILD)-asan --output-on-failure -j $(JOBS) --timeout 600

tsan: setup
	cmake -S . -B $(BUILD)-tsan -G Ninja -DTELVANE_WERROR=ON -DTELVANE_SANITIZE=thread -DTELVANE_BUILD_BENCH=OFF -DTELVANE_BUILD_UI=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD)-tsan -j $(JOBS)
	TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" ctest --test-dir $(BUILD)-tsan --output-on-failure -j $(JOBS) --timeout 600 -R 'Thread|Registry|Window|MsgQueue'

sanitize: asan tsan

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b || exit 1; done
	@echo "== start-up"; scripts/measure-startup.sh $(BUILD)

format:
	clang-format -i $$(git ls-files '*.h' '*.cpp')

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan
