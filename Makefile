# The two Quick-start commands, and the build they share.
BUILD ?= build
PREFIX ?= $(HOME)/.local
# WERROR=ON turns every compiler warning into an error, as CI builds; the build folder keeps
# the last one given (none: OFF).
CMAKE_FLAGS = -DCMAKE_BUILD_TYPE=RelWithDebInfo $(if $(WERROR),-DVENDREL_WERROR=$(WERROR))

.PHONY: all deps configure build run unit test check deb bench tidy install uninstall clean

all: build

deps:
	@scripts/deps.sh

configure: deps
	@cmake -S . -B $(BUILD) $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j$$(nproc)

run: build
	@scripts/run.sh $(BUILD)

# The quick round while editing: only the unit and widget tests, built and run.
unit: configure
	@cmake --build $(BUILD) -j$$(nproc) --target vendrel_unit vendrel_widget
	@cd $(BUILD) && ctest -L 'unit|widget' --output-on-failure -j$$(nproc)

# The package's tests take the package that `make deb` builds.
test: build deb
	@scripts/labels.sh $(BUILD)
	@cd $(BUILD) && ctest --output-on-failure -j$$(nproc)

# The Debian package, built with Debian's own tools: $(BUILD)/deb/vendrel_<version>_<arch>.deb.
deb: deps
	@scripts/deb.sh $(BUILD)

# The whole suite again, built with AddressSanitizer and UndefinedBehaviorSanitizer.
check: deps deb
	@cmake -S . -B $(BUILD)-check $(CMAKE_FLAGS) -DVENDREL_SANITIZE=ON \
	  -DVENDREL_DEB_DIR=$(abspath $(BUILD))/deb >/dev/null
	@cmake --build $(BUILD)-check -j$$(nproc)
	@cd $(BUILD)-check && ctest --output-on-failure -j$$(nproc)

bench: build
	@scripts/deps.sh bench
	@$(BUILD)/vendrel_bench --program $(BUILD)/vendrel --benchmark_min_time=0.2

# clang-tidy over the program's own sources (.clang-tidy); any finding fails.
tidy: build
	@scripts/deps.sh tidy
	@scripts/tidy.sh $(BUILD)

install: build
	@scripts/install.sh install $(BUILD) $(PREFIX)

uninstall:
	@scripts/install.sh uninstall $(BUILD) $(PREFIX)

clean:
	rm -rf $(BUILD) $(BUILD)-check
