# The two Quick-start commands, and the build they share.
BUILD ?= build
PREFIX ?= $(HOME)/.local

.PHONY: all deps build run test check deb bench install uninstall clean

all: build

deps:
	@scripts/deps.sh

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	@cmake --build $(BUILD) -j$$(nproc)

run: build
	@scripts/run.sh $(BUILD)

# The package's tests take the package that `make deb` builds.
test: build deb
	@cd $(BUILD) && ctest --output-on-failure -j$$(nproc)

# The Debian package, built with Debian's own tools: $(BUILD)/deb/vendrel_<version>_<arch>.deb.
deb: deps
	@scripts/deb.sh $(BUILD)

# The whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
check: deps deb
	@cmake -S . -B $(BUILD)-check -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVENDREL_SANITIZE=ON \
	  -DVENDREL_DEB_DIR=$(abspath $(BUILD))/deb >/dev/null
	@cmake --build $(BUILD)-check -j$$(nproc)
	@cd $(BUILD)-check && ctest --output-on-failure -j$$(nproc)

bench: build
	@scripts/deps.sh bench
	@$(BUILD)/vendrel_bench --program $(BUILD)/vendrel --benchmark_min_time=0.2

install: build
	@scripts/install.sh install $(BUILD) $(PREFIX)

uninstall:
	@scripts/install.sh uninstall $(BUILD) $(PREFIX)

clean:
	rm -rf $(BUILD) $(BUILD)-check
