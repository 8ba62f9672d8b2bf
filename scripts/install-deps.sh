#!/usr/bin/env bash
# Installs everything the installer needs to build, and everything its tests
# and demo use, on Debian 12. Runs as root without a terminal.
set -euo pipefail

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: run as root (apt-get needs it)" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
  build-essential g++ cmake make pkg-config \
  libcups2-dev libgtest-dev googletest nlohmann-json3-dev \
  cups cups-client cups-filters cups-bsd openprinting-ppds foomatic-db-compressed-ppds \
  netcat-openbsd gzip tar procps iproute2 util-linux openssh-server openssh-client strace \
  clang libclang-rt-14-dev groff-base man-db ansible-core ansible-lint \
  mmdebstrap debootstrap debian-archive-keyring binutils perl \
  >/dev/null
