# make install-host: builds the host and its control tool for release and installs the two
# under PREFIX (default /usr/local), the one place the host offers to start at login from.
# Installing asks for sudo when PREFIX is not writable.
PREFIX ?= /usr/local
BUILD ?= build/install
SUDO ?= $(shell test -w "$(PREFIX)" || echo sudo)

.PHONY: install-host
install-host:
	scripts/setup
	cmake -S . -B "$(BUILD)" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$(PREFIX)" \
	  -DQUIB_BENCHMARKS=OFF
	cmake --build "$(BUILD)" --target quib-host quibctl
	$(SUDO) cmake --install "$(BUILD)"
