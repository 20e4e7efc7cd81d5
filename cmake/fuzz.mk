# Fuzzing: `make fuzz` builds the libFuzzer targets with clang in build/fuzz
# and runs each one for FUZZ_SECONDS (default 180), one after the other,
# each in a single in-process libFuzzer run (no -jobs/-workers forking). Each target starts from its seed corpus in
# tests/fuzz/corpus/<target> (copied into build/fuzz/corpus/<target>, where
# the inputs libFuzzer finds accumulate) and writes a reproducer of any
# finding to build/fuzz/crashes/<target>/. Keep a fixed finding's reproducer
# in tests/fuzz/crashes/<target>/: the host tests replay those.
#
#   make fuzz                        every target, 180 s each
#   make fuzz FUZZ_SECONDS=600       longer
#   make fuzz FUZZ_TARGETS=dump      one target
#   make -f cmake/fuzz.mk seeds      rewrite the seed corpus from ../shared/corpus

FUZZ_BUILD   ?= build/fuzz
FUZZ_SECONDS ?= 180
FUZZ_TARGETS ?= run catalogue dump results
FUZZ_FLAGS   ?=
CORPUS_DIR   ?= ../shared/corpus

# Longest input each target is given.
max_len_run       := 65536
max_len_catalogue := 16384
max_len_dump      := 8192
max_len_results   := 32768

.PHONY: fuzz fuzz-build seeds $(addprefix fuzz-,$(FUZZ_TARGETS))

fuzz: fuzz-build $(addprefix fuzz-,$(FUZZ_TARGETS))

fuzz-build:
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DIOVET_FUZZ=ON >/dev/null
	cmake --build $(FUZZ_BUILD) -j 2 --target $(addprefix iovet_fuzz_,$(FUZZ_TARGETS))

$(addprefix fuzz-,$(FUZZ_TARGETS)): fuzz-%: fuzz-build
	mkdir -p $(FUZZ_BUILD)/corpus/$* $(FUZZ_BUILD)/crashes/$*
	cp -n tests/fuzz/corpus/$*/* tests/fuzz/crashes/$*/* $(FUZZ_BUILD)/corpus/$*/ 2>/dev/null || true
	ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
	UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	$(FUZZ_BUILD)/iovet_fuzz_$* -max_total_time=$(FUZZ_SECONDS) -max_len=$(max_len_$*) \
	  -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
	  -artifact_prefix=$(FUZZ_BUILD)/crashes/$*/ $(FUZZ_FLAGS) \
	  $(FUZZ_BUILD)/corpus/$* 2>&1 | tee $(FUZZ_BUILD)/fuzz-$*.log | grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^(==|SUMMARY|stat::)|FINDING' || true
	@! grep -qE 'ERROR: libFuzzer|ERROR: AddressSanitizer|runtime error|FINDING|deadly signal' $(FUZZ_BUILD)/fuzz-$*.log

seeds:
	cmake -S . -B build/host -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
	cmake --build build/host -j 2 --target iovet_fuzz_seeds
	build/host/iovet_fuzz_seeds $(CORPUS_DIR) tests/fuzz/seed_tables.txt tests/fuzz/corpus
