# Front door of the build. `make test` installs what is missing, builds and runs every test.
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
# Tests with windows need a display; without one they run on a virtual one. It must not reset
# when its last client leaves: a test that connects during the reset cannot open the display.
XVFB := $(if $(DISPLAY),,xvfb-run -a -s "-noreset -screen 0 1920x1080x24")

.PHONY: all deps build test test-sanitize test-tsan bench fuzz demo screenshots clean

all: build

deps:
	@tools/deps.sh

build: deps
	cmake -S . -B $(BUILD) $(CMAKE_ARGS) >/dev/null
	cmake --build $(BUILD) -j$(JOBS)

test: build
	cd $(BUILD) && NO_AT_BRIDGE=1 $(XVFB) ctest --output-on-failure -j$(JOBS)

# The core libraries' tests again, under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	cmake -S . -B $(BUILD)-asan -DVIEWMERE_SANITIZE=address,undefined -DVIEWMERE_GUI=OFF \
	      -DVIEWMERE_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug >/dev/null
	cmake --build $(BUILD)-asan -j$(JOBS)
	cd $(BUILD)-asan && LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	    ctest --output-on-failure -L core -j$(JOBS)

# The threaded code's tests under ThreadSanitizer.
test-tsan: deps
	cmake -S . -B $(BUILD)-tsan -DVIEWMERE_SANITIZE=thread -DVIEWMERE_GUI=OFF \
	      -DVIEWMERE_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD)-tsan -j$(JOBS)
	cd $(BUILD)-tsan && ctest --output-on-failure -L threads -j$(JOBS)

bench: build
	@set -e; for b in $(BUILD)/bench/bench_*; do echo "== $$b"; NO_AT_BRIDGE=1 $(XVFB) $$b; done

# Each fuzz target for FUZZ_SECONDS (60 by default).
FUZZ_SECONDS ?= 60
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)-fuzz -DVIEWMERE_FUZZ=ON -DVIEWMERE_GUI=OFF \
	      -DVIEWMERE_BENCH=OFF -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD)-fuzz -j$(JOBS)
	@set -e; for f in $(BUILD)-fuzz/fuzz/fuzz_*; do \
	  echo "== $$f ($(FUZZ_SECONDS) s)"; \
	  mkdir -p $(BUILD)-fuzz/corpus/$$(basename $$f); \
	  $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $(BUILD)-fuzz/corpus/$$(basename $$f) fuzz/seeds/$$(basename $$f); \
	done

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz

# The viewer on a generated sample card, with a settings home of its own under build/.
DEMO_CARD := $(CURDIR)/$(BUILD)/demo-card
DEMO_HOME := $(CURDIR)/$(BUILD)/demo-home
demo: build
	tools/make-demo-card.sh $(DEMO_CARD)
	mkdir -p $(DEMO_HOME)/config/Corvane/Viewmere
	printf 'Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Corvane\\Viewmere]\r\n"LastDirectory"="%s"\r\n"GenerateThumbnails"=dword:00000001\r\n' \
	    '$(DEMO_CARD)' > $(DEMO_HOME)/config/Corvane/Viewmere/settings.reg
	@if [ -n "$$DISPLAY" ]; then \
	  XDG_CONFIG_HOME=$(DEMO_HOME)/config $(BUILD)/viewmere; \
	else \
	  echo "No display: running on a virtual one and saving a screenshot to $(BUILD)/demo.png"; \
	  XDG_CONFIG_HOME=$(DEMO_HOME)/config NO_AT_BRIDGE=1 xvfb-run -a -s "-screen 0 1920x1080x24" \
	    tools/screenshot-run.sh $(BUILD)/demo.png 8 $(BUILD)/viewmere; \
	fi

# PNGs of the main window, its menus, the clip popup, the About box, the log window and the
# Options dialog, under build/screenshots/.
screenshots: build
	tools/make-demo-card.sh $(DEMO_CARD)
	tools/screenshots.sh $(BUILD) $(BUILD)/screenshots $(DEMO_CARD)
