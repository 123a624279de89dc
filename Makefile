# Front door of the build. `make test` installs what is missing, builds and runs every test.
BUILD      ?= build
JOBS       ?= $(shell nproc)
CMAKE_ARGS ?=
# Tests with windows need a display; without one they run on a virtual one. It must not reset
# when its last client leaves: a test that connects during the reset cannot open the display.
XVFB := $(if $(DISPLAY),,xvfb-run -a -s "-noreset -screen 0 1920x1080x24")

.PHONY: all deps build package test test-sanitize test-tsan bench fuzz demo screenshots clean

all: build

deps:
	@tools/deps.sh run test

build: deps
	cmake -S . -B $(BUILD) -DBUILD_TESTING=ON -DVIEWMERE_BENCH=ON $(CMAKE_ARGS) >/dev/null
	cmake --build $(BUILD) -j$(JOBS)

# The Debian package, $(BUILD)/viewmere_<version>_amd64.deb (see package/CMakeLists.txt).
package: build
	cd $(BUILD) && cpack -G DEB

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

# Each fuzz target for FUZZ_SECONDS (60 by default), starting from its seeds (fuzz/seeds/<target>/)
# and the corpus kept in the repository (fuzz/corpus/<target>/), with the words of
# fuzz/dicts/<target>.dict where there is one; new inputs go to a working
# corpus under $(BUILD)-fuzz/corpus/. Afterwards the kept corpus and the working one are merged,
# minimised, into a fresh fuzz/corpus/<target>/ and the working one is emptied, so the next run
# starts where this one stopped. After a failed run nothing is dropped: what the run found is
# only added to the kept corpus. Crash inputs go to $(BUILD)-fuzz/crashes/<target>/; every target
# gets its turn, and then any failure fails `make fuzz`.
FUZZ_SECONDS ?= 60
fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(BUILD)-fuzz -DVIEWMERE_FUZZ=ON -DVIEWMERE_GUI=OFF \
	      -DVIEWMERE_BENCH=OFF -DBUILD_TESTING=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build $(BUILD)-fuzz -j$(JOBS)
	@failed=; for f in $(BUILD)-fuzz/fuzz/fuzz_*; do \
	  t=$$(basename $$f); work=$(BUILD)-fuzz/corpus/$$t; merged=$(BUILD)-fuzz/merged/$$t; \
	  echo "== $$t ($(FUZZ_SECONDS) s)"; \
	  mkdir -p $$work fuzz/corpus/$$t fuzz/seeds/$$t $(BUILD)-fuzz/crashes/$$t; \
	  dict=; if [ -f fuzz/dicts/$$t.dict ]; then dict=-dict=fuzz/dicts/$$t.dict; fi; \
	  if $$f -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 -artifact_prefix=$(BUILD)-fuzz/crashes/$$t/ $$dict \
	         $$work fuzz/corpus/$$t fuzz/seeds/$$t; then \
	    rm -rf $$merged && mkdir -p $$merged && \
	    $$f -merge=1 $$merged fuzz/corpus/$$t $$work >$(BUILD)-fuzz/merge-$$t.log 2>&1 && \
	    rm -rf fuzz/corpus/$$t && mv $$merged fuzz/corpus/$$t && find $$work -type f -delete || \
	      { echo "== $$t: merging the corpus failed, see $(BUILD)-fuzz/merge-$$t.log"; failed="$$failed $$t"; }; \
	  else \
	    failed="$$failed $$t"; echo "== $$t FAILED: the input is in $(BUILD)-fuzz/crashes/$$t/"; \
	    $$f -merge=1 fuzz/corpus/$$t $$work >$(BUILD)-fuzz/merge-$$t.log 2>&1 && find $$work -type f -delete; \
	  fi; \
	  grep -h "^MERGE-OUTER: [0-9]* new files" $(BUILD)-fuzz/merge-$$t.log; \
	  echo "== $$t: kept corpus $$(ls fuzz/corpus/$$t | wc -l) files, $$(cat fuzz/corpus/$$t/* 2>/dev/null | wc -c) bytes"; \
	done; \
	if [ -n "$$failed" ]; then echo "== fuzz failed:$$failed"; exit 1; fi

clean:
	rm -rf $(BUILD) $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz

# The viewer on a generated sample card, with a home of its own under build/ (see tools/demo.sh).
# Only what building and running the viewer needs is installed and built: no test tools.
DEMO_CARD := $(CURDIR)/$(BUILD)/demo-card
demo:
	@tools/deps.sh run $(if $(DISPLAY),,virtual-display)
	cmake -S . -B $(BUILD) -DBUILD_TESTING=OFF -DVIEWMERE_BENCH=OFF $(CMAKE_ARGS) >/dev/null
	cmake --build $(BUILD) -j$(JOBS) --target viewmere viewmere-grab-worker
	tools/demo.sh $(BUILD)

# PNGs of the main window, its menus, the clip popup, the About box, the log window and the
# Options dialog, under build/screenshots/.
screenshots: build
	tools/make-demo-card.sh $(DEMO_CARD)
	tools/screenshots.sh $(BUILD) $(BUILD)/screenshots $(DEMO_CARD)
