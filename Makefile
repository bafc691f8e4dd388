# make test: install what is missing, build, run the suite, then again under ASan and UBSan.
# make build only configures and builds; demo, test, bench and fuzz install packages first.
SHELL := /bin/bash
BUILD := build
ASAN_BUILD := build-asan
JOBS ?= $(shell nproc)
CTEST_FLAGS := --output-on-failure --timeout 600 -j $(JOBS)

.PHONY: demo bench fuzz deps build deps-build build-asan test test-plain test-asan package

define build-recipe
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD) -j $(JOBS)
endef

demo: deps-build
	bash scripts/demo.sh

bench: deps-build
	bash bench/run.sh

fuzz: deps
	bash fuzz/run.sh

deps:
	bash scripts/install-deps.sh

build:
	$(build-recipe)

# The build, after the packages are in place.
deps-build: deps
	$(build-recipe)

build-asan: deps
	cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQUENBY_SANITIZE=ON
	cmake --build $(ASAN_BUILD) -j $(JOBS)

test-plain: deps-build
	ctest --test-dir $(BUILD) $(CTEST_FLAGS)

# Leak checking is off: Qt and fontconfig keep caches until exit that LeakSanitizer reports.
test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
		ctest --test-dir $(ASAN_BUILD) $(CTEST_FLAGS)

test: test-plain test-asan

# The Debian package from the release build, checked by lintian (which fails on any error).
package: deps
	$(MAKE) build
	rm -f $(BUILD)/quenby_*.deb
	cd $(BUILD) && cpack -G DEB
	lintian --fail-on error --display-info $(BUILD)/quenby_*.deb
