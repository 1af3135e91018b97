# Front door. Everything real happens in CMake; this file only names the
# everyday commands and makes sure the Debian packages they need are there.

BUILD       ?= build
BUILD_ASAN  ?= build-asan
BUILD_TSAN  ?= build-tsan
BUILD_BENCH ?= build-bench
BUILD_FUZZ  ?= build-fuzz
BUILD_WEB   ?= build-web
BUILD_ARM64 ?= build-arm64
VST2_FUZZ_SECONDS ?= 60
LV2_FUZZ_SECONDS ?= 30
CLAP_FUZZ_SECONDS ?= 30
VST3_FUZZ_SECONDS ?= 30
JOBS        ?= $(shell nproc 2>/dev/null || echo 2)
# Installation: per user by default; PREFIX=/usr/local (say) puts everything
# under one prefix instead; each folder can also be set on its own.
user_or_prefix = $(if $(PREFIX),$(PREFIX)/$(2),$(HOME)/$(1))
VST_DIR     ?= $(call user_or_prefix,.vst,lib/vst)
LV2_DIR     ?= $(call user_or_prefix,.lv2,lib/lv2)
CLAP_DIR    ?= $(call user_or_prefix,.clap,lib/clap)
VST3_DIR    ?= $(call user_or_prefix,.vst3,lib/vst3)
BIN_DIR     ?= $(call user_or_prefix,.local/bin,bin)
DESKTOP_DIR ?= $(call user_or_prefix,.local/share/applications,share/applications)
PRESET_DIR  ?= $(call user_or_prefix,.local/share/veltrosa/presets,share/veltrosa/presets)
ICON_DIR    ?= $(call user_or_prefix,.local/share/icons/hicolor/scalable/apps,share/icons/hicolor/scalable/apps)
# VST 3 hosts look for presets under <vendor>/<plug-in> in their preset
# folders; the vendor is the one every edition reports.
VENDOR      := $(shell sed -n 's/.*kVendor = "\(.*\)";.*/\1/p' src/core/Identity.h)
VST3_PRESET_DIR ?= $(call user_or_prefix,.vst3/presets/$(VENDOR)/Veltrosa,share/vst3/presets/$(VENDOR)/Veltrosa)
CMAKE_FLAGS ?=
WINDOWS_CMAKE_FLAGS ?=
ARM64_CMAKE_FLAGS ?=

.PHONY: all deps test test-plain test-asan test-tsan test-names demo bench install windows windows-deps windows-test fuzz clean
.PHONY: web web-test
.PHONY: fuzz-build test-fuzz fuzz-vst2 fuzz-lv2 fuzz-clap fuzz-vst3 presets-preview presets-docs deb package-deps windows-dist
.PHONY: arm64 arm64-test deb-arm64

all: deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS)

deps:
	@scripts/install-deps test

# Every test, plain and under the sanitizers. A sanitizer report fails it.
test: test-plain test-asan test-tsan test-names

test-plain: all
	scripts/with-display ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The tree's naming rule (.clang-tidy), once, over the plain build's sources.
test-names: all
	scripts/check-names $(BUILD)

test-asan: deps
	cmake -S . -B $(BUILD_ASAN) -DCMAKE_BUILD_TYPE=Debug -DVELTROSA_SANITIZE=address,undefined $(CMAKE_FLAGS)
	cmake --build $(BUILD_ASAN) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  scripts/with-display ctest --test-dir $(BUILD_ASAN) --output-on-failure -j $(JOBS)

test-tsan: deps
	cmake -S . -B $(BUILD_TSAN) -DCMAKE_BUILD_TYPE=Debug -DVELTROSA_SANITIZE=thread $(CMAKE_FLAGS)
	cmake --build $(BUILD_TSAN) -j $(JOBS)
	TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
	  scripts/with-display ctest --test-dir $(BUILD_TSAN) --output-on-failure -j $(JOBS) -L tsan

# Every edge's fuzzer: `make fuzz`.
fuzz: fuzz-vst2 fuzz-lv2 fuzz-clap fuzz-vst3

# The VST 2 edge's fuzzer (clang, libFuzzer, AddressSanitizer +
# UndefinedBehaviorSanitizer): `make fuzz-vst2 VST2_FUZZ_SECONDS=600`. It
# mutates the seeds in fuzz/vst2-corpus and keeps what it finds in
# $(BUILD_FUZZ)/vst2-corpus; a crash, sanitizer report, broken invariant or an
# input running over 10 s fails it and leaves the input in $(BUILD_FUZZ)/
# (replay: $(BUILD_FUZZ)/fuzz/veltrosa_vst2_fuzz <file>).
fuzz-vst2: fuzz-build
	mkdir -p $(BUILD_FUZZ)/vst2-corpus
	ASAN_OPTIONS=detect_leaks=1 $(BUILD_FUZZ)/fuzz/veltrosa_vst2_fuzz -max_total_time=$(VST2_FUZZ_SECONDS) -timeout=10 \
	  -rss_limit_mb=2048 -max_len=8192 -print_final_stats=1 -artifact_prefix=$(BUILD_FUZZ)/vst2- \
	  $(BUILD_FUZZ)/vst2-corpus fuzz/vst2-corpus

fuzz-build:
	@scripts/install-deps fuzz
	CC=clang CXX=clang++ cmake -S . -B $(BUILD_FUZZ) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTROSA_FUZZ=ON \
	  -DVELTROSA_SANITIZE=address,undefined -DVELTROSA_TESTS=OFF -DVELTROSA_TOOLS=OFF $(CMAKE_FLAGS)
	cmake --build $(BUILD_FUZZ) -j $(JOBS) --target veltrosa_vst2_fuzz veltrosa_lv2_fuzz veltrosa_clap_fuzz veltrosa_vst3_fuzz

# The LV2 edge's fuzzer, the same way: `make fuzz-lv2 LV2_FUZZ_SECONDS=600`
# (replay: $(BUILD_FUZZ)/fuzz/veltrosa_lv2_fuzz <file>).
fuzz-lv2: fuzz-build
	mkdir -p $(BUILD_FUZZ)/lv2-corpus
	ASAN_OPTIONS=detect_leaks=1 $(BUILD_FUZZ)/fuzz/veltrosa_lv2_fuzz -max_total_time=$(LV2_FUZZ_SECONDS) -timeout=10 \
	  -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 -artifact_prefix=$(BUILD_FUZZ)/lv2- \
	  $(BUILD_FUZZ)/lv2-corpus

# The CLAP edge's fuzzer, the same way: `make fuzz-clap CLAP_FUZZ_SECONDS=600`
# (replay: $(BUILD_FUZZ)/fuzz/veltrosa_clap_fuzz <file>).
fuzz-clap: fuzz-build
	mkdir -p $(BUILD_FUZZ)/clap-corpus
	ASAN_OPTIONS=detect_leaks=1 $(BUILD_FUZZ)/fuzz/veltrosa_clap_fuzz -max_total_time=$(CLAP_FUZZ_SECONDS) -timeout=10 \
	  -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 -artifact_prefix=$(BUILD_FUZZ)/clap- \
	  $(BUILD_FUZZ)/clap-corpus

# The VST 3 edge's fuzzer, the same way: `make fuzz-vst3 VST3_FUZZ_SECONDS=600`
# (replay: $(BUILD_FUZZ)/fuzz/veltrosa_vst3_fuzz <file>).
fuzz-vst3: fuzz-build
	mkdir -p $(BUILD_FUZZ)/vst3-corpus
	ASAN_OPTIONS=detect_leaks=1 $(BUILD_FUZZ)/fuzz/veltrosa_vst3_fuzz -max_total_time=$(VST3_FUZZ_SECONDS) -timeout=10 \
	  -rss_limit_mb=2048 -max_len=4096 -print_final_stats=1 -artifact_prefix=$(BUILD_FUZZ)/vst3- \
	  $(BUILD_FUZZ)/vst3-corpus

# The bounded fuzz runs of every `make test`.
test-fuzz: VST2_FUZZ_SECONDS = 75
test-fuzz: fuzz

# `make test` also runs a bounded fuzz run.
test: test-fuzz

# Renders examples/demo.mid through the freshly built plug-in.
demo:
	@scripts/install-deps build
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target veltrosa-render
	$(BUILD)/veltrosa-render examples/demo.mid -o $(BUILD)/demo.wav

# Engine benchmarks and the side-by-side with peer instruments (Release build).
bench:
	@scripts/install-deps bench
	cmake -S . -B $(BUILD_BENCH) -DCMAKE_BUILD_TYPE=Release -DVELTROSA_BENCH=ON $(CMAKE_FLAGS)
	cmake --build $(BUILD_BENCH) -j $(JOBS) --target engine_bench scaling_bench compare_peers situations_bench Veltrosa VeltrosaVst3
	$(BUILD_BENCH)/bench/engine_bench
	$(BUILD_BENCH)/bench/scaling_bench
	BUILD_BENCH=$(BUILD_BENCH) bench/compare-peers
	BUILD_BENCH=$(BUILD_BENCH) bench/situations
	BUILD_BENCH=$(BUILD_BENCH) bench/standalone-bench

install: all
	mkdir -p $(VST_DIR) $(VST3_DIR) $(LV2_DIR) $(CLAP_DIR) $(BIN_DIR) $(DESKTOP_DIR) $(ICON_DIR) $(PRESET_DIR)
	cp $(BUILD)/Veltrosa.so $(VST_DIR)/
	cp $(BUILD)/Veltrosa.clap $(CLAP_DIR)/
	rm -rf $(VST3_DIR)/Veltrosa.vst3
	cp -r $(BUILD)/Veltrosa.vst3 $(VST3_DIR)/
	rm -rf $(LV2_DIR)/veltrosa.lv2
	cp -r $(BUILD)/veltrosa.lv2 $(LV2_DIR)/
	install -m 755 $(BUILD)/veltrosa $(BIN_DIR)/veltrosa
	sed 's|@BIN_DIR@|$(abspath $(BIN_DIR))|' src/standalone/veltrosa.desktop.in > $(DESKTOP_DIR)/veltrosa.desktop
	install -D -m 644 src/standalone/veltrosa.svg $(ICON_DIR)/veltrosa.svg
	cp $(BUILD)/presets/*.fxp $(BUILD)/presets/*.fxb $(PRESET_DIR)/
	mkdir -p "$(VST3_PRESET_DIR)"
	cp $(BUILD)/presets/vst3/*.vstpreset "$(VST3_PRESET_DIR)/"
	@echo "installed $(VST_DIR)/Veltrosa.so, $(VST3_DIR)/Veltrosa.vst3, $(CLAP_DIR)/Veltrosa.clap, $(LV2_DIR)/veltrosa.lv2, $(BIN_DIR)/veltrosa"
	@echo "  with its menu entry in $(DESKTOP_DIR) (icon in $(ICON_DIR)), the factory presets in $(PRESET_DIR)"
	@echo "  and, for VST 3 hosts, in $(VST3_PRESET_DIR)"

# The Debian package, $(BUILD)/veltrosa_<version>_amd64.deb, holding every
# Linux edition the build has (scripts/make-deb).
deb: package-deps all
	scripts/make-deb $(BUILD)

package-deps:
	@scripts/install-deps package

# The Windows archive, $(BUILD)/Veltrosa-<version>-windows.zip: both DLLs, the
# CLAP file and the VST 3 bundle, the presets (written by the Linux build), a
# read-me and the licences.
windows-dist: package-deps all windows
	scripts/make-windows-dist $(BUILD) build-win32 build-win64

# Every factory preset playing the same phrase, build/presets/NAME.wav, with
# its editor (NAME-editor.png) and wavetable spectrum (NAME-partials.png).
presets-preview:
	@scripts/install-deps build
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target veltrosa-render veltrosa-demo-mid veltrosa_preset_files
	$(BUILD)/veltrosa-demo-mid --phrase $(BUILD)/presets/phrase.mid
	@for fxp in $(BUILD)/presets/*.fxp; do \
	  name=$$(basename $$fxp .fxp); \
	  $(BUILD)/veltrosa-render --load-state $$fxp $(BUILD)/presets/phrase.mid -o $(BUILD)/presets/$$name.wav \
	    --editor-png $(BUILD)/presets/$$name-editor.png --spectrum-png $(BUILD)/presets/$$name-partials.png \
	    || exit 1; \
	done

# The pictures the README shows, refreshed from the preview.
presets-docs: presets-preview
	cp $(BUILD)/presets/*-editor.png $(BUILD)/presets/*-partials.png docs/presets/

# Windows DLLs, cross-built with MinGW-w64: build-win32/Veltrosa.dll (for
# 32-bit hosts) and build-win64/Veltrosa.dll, each with its Wine test program,
# the CLAP edition build-win64/Veltrosa.clap and the VST 3 bundle
# build-win64/Veltrosa.vst3/ (module Contents/x86_64-win/Veltrosa.vst3). The
# bundle's moduleinfo.json is the one the Linux build writes, as the cross
# build cannot run its own programs.
VST3_MODULEINFO = $(abspath $(BUILD))/Veltrosa.vst3/Contents/Resources/moduleinfo.json
windows: windows-deps
	@scripts/install-deps build
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target veltrosa_vst3_moduleinfo
	cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake $(WINDOWS_CMAKE_FLAGS)
	cmake --build build-win32 -j $(JOBS)
	cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake \
	  -DVELTROSA_VST3_MODULEINFO=$(VST3_MODULEINFO) $(WINDOWS_CMAKE_FLAGS)
	cmake --build build-win64 -j $(JOBS)

windows-deps:
	@scripts/install-deps windows

# The Windows tests under Wine, headless, against this build's Linux module
# (ctest label "wine"), the Windows archive's DLLs among them. Wine's prefix is
# prepared while the DLLs compile.
windows-test: deps windows-deps package-deps
	cmake -S . -B $(BUILD) -DVELTROSA_WINE_TESTS=ON $(CMAKE_FLAGS)
	scripts/wine-run $(BUILD)/wine-prefix --boot & \
	  $(MAKE) windows && cmake --build $(BUILD) -j $(JOBS) --target Veltrosa wine_reference veltrosa_preset_files \
	    && scripts/make-windows-dist $(BUILD) build-win32 build-win64; \
	  status=$$?; wait; exit $$status
	scripts/with-display ctest --test-dir $(BUILD) -L wine --output-on-failure -j $(JOBS)

# The browser edition with Debian's Emscripten: the page is $(BUILD_WEB)/site/,
# served by any static server (python3 -m http.server -d $(BUILD_WEB)/site).
web:
	@scripts/install-deps web
	emcmake cmake -S . -B $(BUILD_WEB) -DCMAKE_BUILD_TYPE=Release -DVELTROSA_TESTS=OFF -DVELTROSA_TOOLS=OFF \
	  -DVELTROSA_STANDALONE=OFF -DVELTROSA_EDITOR_X11=OFF
	cmake --build $(BUILD_WEB) -j $(JOBS)

# The page in headless chromium against this build's native references
# (tests/web/run.mjs); the test driver comes from npm, pinned by its lock file.
web-test: web deps
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target web_reference
	mkdir -p $(BUILD)/web-reference
	$(BUILD)/tests/web_reference $(BUILD)/web-reference
	cd tests/web && npm ci --no-audit --no-fund
	node tests/web/run.mjs $(BUILD_WEB)/site $(BUILD)/web-reference

# Every Linux edition for 64-bit ARM (aarch64-linux-gnu), cross-built into
# $(BUILD_ARM64) with Debian's cross compilers and :arm64 libraries; libsmf
# and liblo, whose development packages' two architectures cannot be
# installed side by side, and lilv's utilities are unpacked into
# $(BUILD_ARM64)/debs instead.
arm64:
	@scripts/install-deps arm64
	scripts/unpack-debs arm64 $(BUILD_ARM64)/debs libsmf0 libsmf-dev liblo7 liblo-dev lilv-utils
	cmake -S . -B $(BUILD_ARM64) -DCMAKE_TOOLCHAIN_FILE=cmake/aarch64-linux-gnu.cmake $(ARM64_CMAKE_FLAGS)
	cmake --build $(BUILD_ARM64) -j $(JOBS)

# The arm64 Debian package, $(BUILD_ARM64)/veltrosa_<version>_arm64.deb,
# made as the amd64 one is (scripts/make-deb), then read by lintian.
deb-arm64: package-deps arm64
	scripts/make-deb $(BUILD_ARM64) arm64
	lintian --fail-on error,warning $(BUILD_ARM64)/veltrosa_$$(cat $(BUILD_ARM64)/version)_arm64.deb

# The ARM tests under qemu's user-mode emulator: the engine and the render
# paths' equality, every edition against the VST 2 one bit for bit, states,
# presets, bad input and the renderer, lilv's own lv2bench running the
# bundle; then the ARM renders against the x86 ones (scripts/compare-arm64).
# Tests that need an X server, a JACK server or x86 host programs stay on x86.
ARM64_TESTS = ^(SynthEngine|Voice|Envelope|Wavetable|PhaseGenerator|RenderPath|Paths/VectorEquality|PluginSound|Allocation|Chunk|Shell|TableRule|PresetFiles|Clap|Vst3|Lv2Plugin|Render)\.|^lv2bench_|^lv2_descriptions_validate$$
ARM64_SKIPPED = Qtractor|Ardour|HostsAnotherInstrument|EditorPicture
arm64-test: arm64
	@scripts/install-deps build test
	cmake -S . -B $(BUILD) $(CMAKE_FLAGS)
	cmake --build $(BUILD) -j $(JOBS) --target veltrosa-render Veltrosa
	ctest --test-dir $(BUILD_ARM64) -R '$(ARM64_TESTS)' -E '$(ARM64_SKIPPED)' --output-on-failure -j $(JOBS)
	scripts/compare-arm64 $(BUILD) $(BUILD_ARM64)

clean:
	rm -rf $(BUILD) $(BUILD_ASAN) $(BUILD_TSAN) $(BUILD_BENCH) $(BUILD_WEB) $(BUILD_ARM64) build-win32 build-win64 build-fuzz
