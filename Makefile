# Front door: `make` builds natively, `make windows` cross-builds the 32-bit Windows program,
# `make test` runs every suite this machine can run, `make demo` runs a whole simulated survey.

JOBS ?= $(shell nproc 2>/dev/null || echo 2)
CTEST = ctest --output-on-failure --timeout 1500

.PHONY: all native windows sanitize test test-native test-windows test-sanitize demo bench format \
        format-check clean

all: native

native:
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

windows:
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

sanitize:
	cmake --preset sanitize >/dev/null
	cmake --build --preset sanitize -j $(JOBS)

# Every suite this machine can run; what it cannot run is named with the reason.
test:
	@tools/run-tests

test-native: native
	$(CTEST) --test-dir build

test-windows: windows native
	$(CTEST) --test-dir build-win32
	$(CTEST) --test-dir build -R e2e-wine

test-sanitize: sanitize
	$(CTEST) --test-dir build-asan -E e2e-wine

demo: native
	@tools/demo

bench: native
	build/bench/bench_recording
	build/bench/bench_export
	build/bench/bench_line_rate
	build/bench/bench_realignment

format:
	clang-format -i $$(git ls-files '*.cpp' '*.hpp')

format-check:
	clang-format --dry-run -Werror $$(git ls-files '*.cpp' '*.hpp')

clean:
	rm -rf build build-win32 build-asan
