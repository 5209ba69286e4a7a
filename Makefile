# Two entry points: `make run` and `make test`. Both install what is missing on a Debian machine first.

SHELL := /bin/bash
JOBS ?= $(shell nproc)

BUILD_PACKAGES := g++ make cmake pkg-config zlib1g-dev libdeflate-dev libssl-dev libgtest-dev libgmock-dev ccache qt6-base-dev
TEST_PACKAGES := clang libclang-rt-14-dev clang-format unzip zip p7zip-full libarchive-tools desktop-file-utils \
                 python3 attr rsync procps python3-aiosmtpd python3-pyftpdlib python3-openssl proftpd-basic \
                 openssl curl lftp xvfb xauth openbox trayer xdotool imagemagick fonts-dejavu-core

SUDO := $(shell [ "$$(id -u)" = 0 ] || echo sudo)

# Rebuilds of unchanged sources come from the compiler cache; paths below the checkout are taken as
# relative, so a fresh clone in another folder still finds them.
export CCACHE_BASEDIR := $(CURDIR)
LAUNCHER = $(if $(shell command -v ccache),-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: run test deps test-deps build build-asan build-fuzz check-format fuzz-smoke install clean

define install_missing
	@missing=""; for p in $(1); do \
	  dpkg-query -W -f='$${Status}' $$p 2>/dev/null | grep -q "install ok installed" || missing="$$missing $$p"; \
	done; \
	if [ -n "$$missing" ]; then \
	  echo "Installing:$$missing"; \
	  policy=/usr/sbin/policy-rc.d; added=""; \
	  if [ ! -e $$policy ]; then printf '#!/bin/sh\nexit 101\n' | $(SUDO) tee $$policy >/dev/null && $(SUDO) chmod 755 $$policy && added=1; fi; \
	  $(SUDO) apt-get update -qq && DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing; \
	  status=$$?; [ -n "$$added" ] && $(SUDO) rm -f $$policy; \
	  [ $$status = 0 ] || exit $$status; \
	fi
endef

deps:
	$(call install_missing,$(BUILD_PACKAGES))

test-deps: deps
	$(call install_missing,$(TEST_PACKAGES))

build: deps
	cmake --preset default $(LAUNCHER)
	cmake --build build -j$(JOBS)

run: build
	./build/zentrove

build-asan: test-deps
	cmake --preset asan $(LAUNCHER)
	cmake --build build-asan -j$(JOBS)

build-fuzz: test-deps
	cmake --preset fuzz $(LAUNCHER)
	cmake --build build-fuzz -j$(JOBS)

check-format: test-deps
	@files=$$(git ls-files '*.cpp' '*.h'); \
	if [ -n "$$files" ]; then clang-format --dry-run --Werror $$files; fi

fuzz-smoke: build-fuzz
	@for f in build-fuzz/fuzz/fuzz_*; do \
	  [ -x "$$f" ] || continue; name=$$(basename $$f); name=$${name#fuzz_}; \
	  corpus=fuzz/corpus/$$name; mkdir -p build-fuzz/corpus/$$name; \
	  echo "fuzzing $$name"; \
	  $$f -seed=1 -max_len=4096 -runs=100000 -max_total_time=15 -timeout=10 -artifact_prefix=build-fuzz/ -rss_limit_mb=2048 build-fuzz/corpus/$$name $$corpus >build-fuzz/$$name.log 2>&1 \
	    || { tail -50 build-fuzz/$$name.log; exit 1; }; \
	done

# A test that fails is run once more, so a machine stalling under load does not hide the rest of
# the run; its first failure still shows in the output.
test: test-deps check-format
	cmake --preset default $(LAUNCHER)
	cmake --build build -j$(JOBS)
	$(MAKE) --no-print-directory build-asan
	$(MAKE) --no-print-directory fuzz-smoke
	ctest --test-dir build-asan -j$(JOBS) --output-on-failure --repeat until-pass:2
	ctest --test-dir build -j$(JOBS) --output-on-failure --repeat until-pass:2
	tests/ui/smoke.sh build

# The program, its manual page (written by the program from its own help texts) and the bash
# completion. DESTDIR stages the files for a package.
PREFIX ?= /usr/local
install: build
	install -d $(DESTDIR)$(PREFIX)/bin $(DESTDIR)$(PREFIX)/share/man/man1 \
	  $(DESTDIR)$(PREFIX)/share/bash-completion/completions
	install -m 0755 build/zentrove $(DESTDIR)$(PREFIX)/bin/zentrove
	./build/zentrove help man > build/zentrove.1
	install -m 0644 build/zentrove.1 $(DESTDIR)$(PREFIX)/share/man/man1/zentrove.1
	install -m 0644 share/completion/zentrove.bash $(DESTDIR)$(PREFIX)/share/bash-completion/completions/zentrove

clean:
	rm -rf build build-asan build-fuzz
