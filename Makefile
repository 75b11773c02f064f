# The front door: every target sets up what it needs first.
BUILD ?= build

.PHONY: setup build test run bench clean

setup:
	scripts/setup $(BUILD)

build: setup

test: setup
	cd $(BUILD) && ctest --output-on-failure -j2

run: setup
	$(BUILD)/window/inverse-logistic

bench:
	scripts/bench

clean:
	rm -rf $(BUILD)
