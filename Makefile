# SPDX-License-Identifier: GPL-3.0-or-later
# The front door: every target sets up what it needs first.
BUILD ?= build

.PHONY: setup build test run bench sanitize fuzz style hardening check package clean

setup:
	scripts/setup $(BUILD)

build: setup

# The whole test suite on a normal build.
test: setup
	cd $(BUILD) && ctest --output-on-failure -j2

run: setup
	$(BUILD)/window/inverse-logistic

bench:
	scripts/bench

# The whole test suite again under AddressSanitizer and UndefinedBehaviorSanitizer.
sanitize:
	scripts/sanitize

# Every fuzz target for about a minute each.
fuzz:
	scripts/fuzz

# Formatting and clang-tidy on the project's own code.
style:
	scripts/style

# What CI runs after the test suite.
hardening: sanitize fuzz style

# Debian packages of the window and of the renderer, from a Release build.
package:
	scripts/package

# Everything CI runs.
check: test hardening

clean:
	rm -rf build build-asan build-fuzz build-release
