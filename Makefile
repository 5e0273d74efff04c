# Front door: `make` builds natively, `make windows` cross-builds the 32-bit Windows program
# (`make windows64` the 64-bit test build, for 64-bit Wine),
# `make test` runs every suite this machine can run, `make demo` runs a whole simulated survey,
# `make dist` packs the Windows programs for the survey PC. `make test` and `make demo` first run
# tools/setup, which installs (as root) or names what the machine lacks.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CTEST = ctest --output-on-failure --timeout 1500

.PHONY: all setup native windows windows64 sanitize dist dist64 test test-native test-windows \
        test-windows64 test-sanitize stress review \
        demo bench format format-check clean

all: native

native:
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

windows:
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

# The 64-bit Windows build: a test vehicle that runs under 64-bit Wine on every machine (no vendor
# library is 64-bit, so it never goes to a survey PC).
windows64:
	cmake --preset windows64 >/dev/null
	cmake --build --preset windows64 -j $(JOBS)

sanitize:
	cmake --preset sanitize >/dev/null
	cmake --build --preset sanitize -j $(JOBS)

setup:
	@tools/setup

# dist/morvane-<version>-win32.zip: what an operator copies to the survey PC (tools/dist).
dist: windows
	cmake --build --preset windows --target dist
	@ls dist/morvane-*-win32.zip

# dist/morvane-<version>-win64.zip: the same package of the 64-bit build, for tests only.
dist64: windows64
	cmake --build --preset windows64 --target dist
	@ls dist/morvane-*-win64.zip

# Every suite this machine can run; what it cannot run is named with the reason.
test: setup
	@tools/run-tests

test-native: native
	$(CTEST) --test-dir build

test-windows: windows native
	$(CTEST) --test-dir build-win32
	$(CTEST) --test-dir build -R '^e2e-wine$$'

test-windows64: windows64 native
	$(CTEST) --test-dir build-win64
	$(CTEST) --test-dir build -R '^e2e-wine64$$'

test-sanitize: sanitize
	$(CTEST) --test-dir build-asan -E '^e2e-wine'

# The native end-to-end suite with the other cores busy; STRESS_RUNS=3 repeats it, STRESS_TESTS=e2e-
# takes the suite under Wine too (after make windows).
stress: native
	@tools/stress

# The review in TypeScript (review/): its packages as the lock file pins them, then the bundle.
review:
	@cd review && { [ -d node_modules ] && [ ! package-lock.json -nt node_modules ] || \
	  npm ci --no-audit --no-fund; } && npm run --silent build

# The review (make review) is built after setup, which installs Node.js and npm.
demo: setup
	@$(MAKE) --no-print-directory native review
	@tools/demo

bench: native review
	build/bench/bench_recording
	build/bench/bench_export
	build/bench/bench_line_rate
	build/bench/bench_realignment
	/usr/bin/python3 bench/bench_review.py

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

format-check:
	clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf build build-win32 build-win64 build-asan dist
