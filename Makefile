# Orvanta: the commands a developer types. `make run` and `make test` do their own set-up.

BUILD_DIR      ?= build
TEST_BUILD_DIR ?= build-test
JOBS           ?= $(shell nproc)
CLOUDFLARED    ?=
# caddy for password gates: a path, empty to take one from PATH or Debian's package, OFF for none.
CADDY          ?=
FUZZ_SECONDS   ?= 30
FUZZ_DIR       ?= build-fuzz
PACKAGE_DIR    ?= build-package

DEPS := g++ cmake ninja-build qt6-base-dev nlohmann-json3-dev libbenchmark-dev \
        fonts-noto-cjk fonts-material-design-icons-iconfont xvfb xauth openssl python3 \
        clang-format clang-tidy dbus pkgconf libsecret-1-dev libqrencode-dev

.PHONY: all deps build run test bench fuzz package screenshots format tidy clean

all: build

deps:
	@missing=""; \
	for pkg in $(DEPS); do \
	    dpkg -s $$pkg >/dev/null 2>&1 || missing="$$missing $$pkg"; \
	done; \
	if [ -n "$$missing" ]; then \
	    sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
	    echo "Installing:$$missing"; \
	    $$sudo apt-get update && \
	    $$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends $$missing; \
	fi

build: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANTA_BUILD_TESTS=OFF \
	    -DCLOUDFLARED="$(CLOUDFLARED)" -DCADDY="$(CADDY)" >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@$(BUILD_DIR)/bin/orvanta

test: deps
	@cmake -S . -B $(TEST_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANTA_SANITIZE=ON -DORVANTA_WERROR=ON \
	    -DCADDY="$(CADDY)" >/dev/null
	@cmake --build $(TEST_BUILD_DIR) -j $(JOBS)
	cd $(TEST_BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANTA_BUILD_BENCH=ON -DCADDY="$(CADDY)" >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)
	@for b in $(BUILD_DIR)/bench-bin/*; do echo "== $$b"; "$$b" || exit 1; done

# libFuzzer targets built with clang; each runs FUZZ_SECONDS on its corpus (the seeds stay in fuzz/corpus).
fuzz: deps
	@$(MAKE) --no-print-directory deps DEPS="clang libclang-rt-14-dev"
	@CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	    -DORVANTA_BUILD_TESTS=OFF -DORVANTA_BUILD_FUZZ=ON \
	    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize=vptr -fno-sanitize-recover=undefined" >/dev/null
	@cmake --build $(FUZZ_DIR) -j $(JOBS) --target fuzz_decoder fuzz_validation fuzz_output
	@for t in decoder validation output; do \
	    mkdir -p $(FUZZ_DIR)/corpus/$$t; echo "== fuzz_$$t ($(FUZZ_SECONDS) s)"; \
	    $(FUZZ_DIR)/fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/ \
	        $(FUZZ_DIR)/corpus/$$t fuzz/corpus/$$t > $(FUZZ_DIR)/fuzz_$$t.log 2>&1 \
	        || { tail -n 60 $(FUZZ_DIR)/fuzz_$$t.log; exit 1; }; \
	    grep -E "^#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units|stat::peak_rss_mb" $(FUZZ_DIR)/fuzz_$$t.log; \
	done

# A .deb for `apt install ./orvanta_*.deb`, built in its own tree so neither cloudflared nor caddy is bundled, then checked.
package: deps
	@$(MAKE) --no-print-directory deps DEPS="dpkg-dev file lintian appstream desktop-file-utils"
	@cmake -S . -B $(PACKAGE_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANTA_BUILD_TESTS=OFF -DCADDY=OFF >/dev/null
	@cmake --build $(PACKAGE_DIR) -j $(JOBS)
	@cd $(PACKAGE_DIR) && cpack -G DEB >/dev/null
	@tools/check-package $$(ls -t $(PACKAGE_DIR)/orvanta_*.deb | head -n 1)

screenshots: build
	@if [ -x $(BUILD_DIR)/bin/orvanta-screenshots ]; then \
	    QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bin/orvanta-screenshots $(BUILD_DIR)/screenshots && \
	    QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 $(BUILD_DIR)/bin/orvanta-screenshots $(BUILD_DIR)/screenshots/200; \
	else echo "No views to render yet."; fi

format:
	@git ls-files -- 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h' \
	    'tools/*.cpp' 'tools/*.h' | xargs clang-format -i

# Uses the test build's compile commands (and its generated moc files), so it builds that first.
tidy: deps
	@cmake -S . -B $(TEST_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANTA_SANITIZE=ON -DORVANTA_WERROR=ON >/dev/null
	@cmake --build $(TEST_BUILD_DIR) -j $(JOBS)
	run-clang-tidy -quiet -p $(TEST_BUILD_DIR) -j $(JOBS) '$(CURDIR)/src/'

clean:
	rm -rf $(BUILD_DIR) $(TEST_BUILD_DIR) $(FUZZ_DIR) $(PACKAGE_DIR)
