# make: builds quib-host, quibctl and quib-phone for release in build/release; installs nothing.
#
# make install-host: installs the packages the host needs to run (scripts/setup run, not the
# tests' ones), builds quib-host and quibctl in the same release build with PREFIX (default
# /usr/local) compiled in, and installs them there with an application entry and its icon, so
# that the desktop's app menu starts the host. Only a host installed there starts at login.
#
# make uninstall-host: removes every file install-host put under PREFIX, and the host's
# autostart entry.
#
# Installing and removing ask for sudo when PREFIX is not writable.
PREFIX ?= /usr/local
BUILD ?= build/release
SUDO ?= $(shell p="$(PREFIX)"; while [ ! -e "$$p" ]; do p=$$(dirname "$$p"); done; test -w "$$p" || echo sudo)
AUTOSTART = $${XDG_CONFIG_HOME:-$$HOME/.config}/autostart/quib-host.desktop
INSTALLED = bin/quib-host bin/quibctl share/applications/quib-host.desktop \
            share/icons/hicolor/scalable/apps/quib-host.svg

.PHONY: all install-host uninstall-host
all:
	scripts/build release quib-host quibctl quib-phone

install-host:
	scripts/setup run
	cmake -S . -B "$(BUILD)" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX="$(PREFIX)"
	cmake --build "$(BUILD)" --target quib-host quibctl
	$(SUDO) cmake --install "$(BUILD)"

uninstall-host:
	$(SUDO) rm -f $(addprefix "$(PREFIX)"/,$(INSTALLED))
	if [ -f "$(BUILD)/install_manifest.txt" ]; then \
	  { grep -F "$(PREFIX)/" "$(BUILD)/install_manifest.txt" || true; } | tr '\n' '\0' | $(SUDO) xargs -0 rm -f; fi
	rm -f "$(AUTOSTART)"
