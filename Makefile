# Thin wrapper around CMake. Extra configure flags: make test CMAKE_FLAGS=-DSITEWAVE_WERROR=ON
CMAKE_FLAGS ?=
JOBS ?= 2
CLANG_FORMAT ?= clang-format

FORMAT_FILES = $(sort $(shell find src app tests bench fuzz include python \( -name '*.cpp' -o -name '*.hpp' \) -type f 2>/dev/null))

.PHONY: all build demo test shared sanitize tsan arith-check consumer fuzz-check valgrind bench format format-check clean slurm-check

all: build

# build/ keeps whatever BUILD_TESTING it has (off on a fresh folder); `make test` turns it on.
build:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build build -j$(JOBS)

# Builds the programs and runs them on the bundled El Centro record: the dialogue (results in
# demo-out/), then the example suite of sitewave-batch (the AT2 triple on three profiles, as an
# outcrop motion, with response spectra and RotD; results in demo-out/batch/, with the suite's
# statistics.csv and run.json), and draws the plots (rrs.png: the profiles' mean RRS); then the
# equivalent-linear suite, the random vibration theory suite, the variation suite, and the Python
# module's example study (when the module is built).
SUITE = --soil examples/profiles/lower.csv --soil examples/profiles/best.csv \
	--soil examples/profiles/upper.csv --input outcrop --spectra --rotd @examples/records.txt

# The equivalent-linear suite: El Centro as an outcrop motion on the soft clay site (demo-out/eql/).
EQL_SUITE = --soil examples/sites/soft_clay.toml --input outcrop --method eql --max-iterations 40 \
	--depths 0,8,22 --spectra examples/elcentro.csv

# Random vibration theory: a magnitude 6.5 point source at 20 km (WNA) as an outcrop motion on the
# best-estimate site, equivalent-linear (demo-out/rvt/).
RVT_SUITE = --soil examples/sites/best.toml --input outcrop --method eql \
	--source --magnitude 6.5 --distance 20 --region wna

# The variation suite: El Centro on 50 realizations of the best-estimate site (Toro velocities and
# layering, Darendeli curve deviates, rock from 28 to 36 m), equivalent-linear, statistics only
# (demo-out/variation/: statistics.csv, profile-statistics.csv, realizations.csv, variation.png).
VARIATION_SUITE = --soil examples/sites/best_varied.toml --input outcrop --method eql --max-iterations 40 \
	--spectra examples/elcentro.csv

demo:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build build -j$(JOBS)
	rm -rf demo-out
	mkdir demo-out
	cp examples/elcentro.csv examples/soil_dat.csv demo-out/
	cd demo-out && ../build/sitewave < ../examples/answers.txt
	build/sitewave-batch $(SUITE) --out demo-out/batch
	@echo "== demo-out/batch/summary.csv"
	@cat demo-out/batch/summary.csv
	@echo "== demo-out/batch/statistics.csv (RRS of H1 at 5%, $$(grep -c '^all,rrs,H1,5%,' demo-out/batch/statistics.csv) periods; first rows)"
	@grep '^all,rrs,H1,5%,' demo-out/batch/statistics.csv | head -3
	tools/sitewave-plot demo-out
	tools/sitewave-plot demo-out/batch
	test -f demo-out/batch/rrs.png
	for run in demo-out/batch/*/*/; do tools/sitewave-plot "$$run" || exit 1; done
	build/sitewave-batch $(EQL_SUITE) --out demo-out/eql
	@echo "== demo-out/eql/summary.csv (the method's columns)"
	@cut -d, -f28- demo-out/eql/summary.csv
	tools/sitewave-plot demo-out/eql/soft_clay/elcentro
	build/sitewave-batch $(VARIATION_SUITE) --out demo-out/variation
	@echo "== demo-out/variation/statistics.csv (RRS of H1 at 5%: median, p16, p84; first rows)"
	@grep '^all,rrs,H1,5%,' demo-out/variation/statistics.csv | cut -d, -f5,11-13 | head -3
	@echo "== demo-out/variation/realizations.csv ($$(grep -c ',bedrock,' demo-out/variation/realizations.csv) realizations; first rows)"
	@head -4 demo-out/variation/realizations.csv
	tools/sitewave-plot demo-out/variation
	build/sitewave-batch $(RVT_SUITE) --out demo-out/rvt
	@echo "== demo-out/rvt/summary.csv (input and surface PGA, g; the method's columns)"
	@cut -d, -f2,12,15,20-24 demo-out/rvt/summary.csv
	tools/sitewave-plot demo-out/rvt/best/source-M6.5-R20-wna
	@if [ -d build/python/sitewave ]; then \
		echo "== the Python example study (demo-out/python/site_study.png)"; \
		PYTHONPATH=build/python MPLBACKEND=Agg /usr/bin/python3 examples/python/site_study.py --out demo-out/python; fi

test:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON $(CMAKE_FLAGS)
	cmake --build build -j$(JOBS)
	ctest --test-dir build --output-on-failure -j$(JOBS)

# A suite on a real single-node Slurm cluster (slurmctld, slurmd, slurm-client; as root): the
# daemons started by the test in a temporary folder, a 4-task array and its merge against the
# unsharded run. Fails (never skips) when the daemons cannot start.
slurm-check:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build build -j$(JOBS) --target sitewave-batch
	tests/slurm/slurm_test.sh build

# The library as a shared library (the programs linked against it), and every test.
shared:
	cmake -S . -B build-shared -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON -DBUILD_TESTING=ON $(CMAKE_FLAGS)
	cmake --build build-shared -j$(JOBS)
	ctest --test-dir build-shared --output-on-failure -j$(JOBS)
	rm -rf build-shared/install && cmake --install build-shared --prefix $(CURDIR)/build-shared/install > /dev/null
	@m=$$(echo build-shared/install/lib/python3*/dist-packages/sitewave/_sitewave*.so); \
	if [ -f "$$m" ]; then \
		ldd $$m | grep -q 'libsitewave.so.* => $(CURDIR)/build-shared/install/lib/' && \
		cd /tmp && PYTHONPATH=$$(dirname $$(dirname $(CURDIR)/$$m)) /usr/bin/python3 -c "import sitewave" && \
		echo "the installed module loads the installed library"; fi

# The sanitizer, ThreadSanitizer, fuzz and valgrind builds leave the Python module out: the
# sanitizers' run-times would have to be preloaded into the interpreter, which then reports the
# interpreter's own allocations.
sanitize:
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DSANITIZE=ON -DBUILD_TESTING=ON -DSITEWAVE_PYTHON=OFF $(CMAKE_FLAGS)
	cmake --build build-asan -j$(JOBS)
	ctest --test-dir build-asan --output-on-failure -j$(JOBS)

# The tables' bits on random profiles, from the release build and the -O0 sanitizer build (both
# built by `make test` and `make sanitize`), must be identical.
# The tests with ThreadSanitizer: the run's helper thread shares the reading, the tables, the
# transforms and the result files.
tsan:
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSITEWAVE_TSAN=ON -DBUILD_TESTING=ON -DSITEWAVE_PYTHON=OFF $(CMAKE_FLAGS)
	cmake --build build-tsan -j$(JOBS)
	TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build-tsan --output-on-failure -j$(JOBS)

arith-check:
	build/tests/table_bits > build/table_bits.txt
	build-asan/tests/table_bits > build-asan/table_bits.txt
	cmp build/table_bits.txt build-asan/table_bits.txt
	@echo "arith-check: release and -O0 tables identical ($$(wc -l < build/table_bits.txt) digests)"

# Installs the library into build/install and builds and runs a small project against it.
consumer:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release $(CMAKE_FLAGS)
	cmake --build build -j$(JOBS)
	cmake --install build --prefix build/install
	cmake -S tests/consumer -B build/consumer -DCMAKE_PREFIX_PATH=$(CURDIR)/build/install
	cmake --build build/consumer
	build/consumer/peak_sh examples/soil_dat.csv
	@if [ -d build/install/lib/python3*/dist-packages/sitewave ]; then \
		cd /tmp && PYTHONPATH=$$(echo $(CURDIR)/build/install/lib/python3*/dist-packages) \
		/usr/bin/python3 -c "import sitewave as sw; print('installed module', sw.__version__, sw.__file__)"; fi

# libFuzzer targets (clang 14, ASan + UBSan) in build-fuzz/: the seed corpus and the regression
# cases replayed, then a fixed number of executions per target with a fixed seed.
FUZZ_RUNS ?= 20000
fuzz-check:
	CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSITEWAVE_FUZZ=ON -DSITEWAVE_PYTHON=OFF $(CMAKE_FLAGS)
	cmake --build build-fuzz -j$(JOBS)
	fuzz/run_fuzz.sh build-fuzz --replay --runs $(FUZZ_RUNS)

# A dialogue run and a small batch run under valgrind's memcheck: no error, no leak.
VALGRIND = valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect -q
# The programs are linked dynamically there, so that memcheck sees every allocation.
valgrind:
	cmake -S . -B build-valgrind -DCMAKE_BUILD_TYPE=Release -DSITEWAVE_STATIC=OFF -DSITEWAVE_PYTHON=OFF $(CMAKE_FLAGS)
	cmake --build build-valgrind -j$(JOBS) --target sitewave sitewave-batch
	rm -rf build-valgrind/run && mkdir -p build-valgrind/run
	cp examples/elcentro.csv examples/soil_dat.csv build-valgrind/run/
	cd build-valgrind/run && $(VALGRIND) ../sitewave < ../../examples/answers.txt > /dev/null
	$(VALGRIND) build-valgrind/sitewave-batch --soil examples/profiles/best.csv --input outcrop \
		--spectra --periods 0.05,5,10 --jobs 2 --out build-valgrind/run/batch @examples/records.txt \
		> /dev/null
	$(VALGRIND) build-valgrind/sitewave-batch --soil examples/sites/best.toml --input outcrop \
		--method eql --spectra --periods 0.05,5,10 --jobs 2 --out build-valgrind/run/eql \
		examples/elcentro.csv --source --magnitude 6.5 --distance 20 --region wna > /dev/null
	@echo "valgrind: no errors, no leaks"

# Release build in build-bench/, then whole-program timings of the max and mid cases and of the
# batch suite against the targets (bench/run_bench.py), and the Google Benchmark timings.
bench:
	python3 bench/run_bench.py --micro

format:
	$(CLANG_FORMAT) -i $(FORMAT_FILES)

format-check:
	$(CLANG_FORMAT) --dry-run -Werror $(FORMAT_FILES)

clean:
	rm -rf build build-shared build-asan build-tsan build-bench build-valgrind build-fuzz demo-out
