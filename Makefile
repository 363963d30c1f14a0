# Orvanta: the commands a developer types. `make run` and `make test` do their own set-up.

BUILD_DIR      ?= build
TEST_BUILD_DIR ?= build-test
JOBS           ?= $(shell nproc)
CLOUDFLARED    ?=

DEPS := g++ cmake ninja-build qt6-base-dev nlohmann-json3-dev libbenchmark-dev \
        fonts-noto-cjk fonts-material-design-icons-iconfont xvfb xauth openssl python3 \
        clang-format clang-tidy

.PHONY: all deps build run test bench screenshots format tidy clean

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
	    -DCLOUDFLARED="$(CLOUDFLARED)" >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)

run: build
	@$(BUILD_DIR)/bin/orvanta

test: deps
	@cmake -S . -B $(TEST_BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVANTA_SANITIZE=ON -DORVANTA_WERROR=ON >/dev/null
	@cmake --build $(TEST_BUILD_DIR) -j $(JOBS)
	cd $(TEST_BUILD_DIR) && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j $(JOBS)

bench: deps
	@cmake -S . -B $(BUILD_DIR) -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVANTA_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BUILD_DIR) -j $(JOBS)
	@for b in $(BUILD_DIR)/bench-bin/*; do echo "== $$b"; "$$b" || exit 1; done

screenshots: build
	@if [ -x $(BUILD_DIR)/bin/orvanta-screenshots ]; then \
	    QT_QPA_PLATFORM=offscreen $(BUILD_DIR)/bin/orvanta-screenshots $(BUILD_DIR)/screenshots; \
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
	rm -rf $(BUILD_DIR) $(TEST_BUILD_DIR)
