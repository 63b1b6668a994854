#!/usr/bin/env bash
# Installs the Debian packages a Kuvo job needs, only those that are missing.
# Usage: tools/deps.sh [build|test|demo|bench]...
set -euo pipefail

want=(cmake g++ make)
for job in "$@"; do
  case "$job" in
    build) ;;
    test)  want+=(googletest libgtest-dev octave octave-dev) ;;
    demo)  want+=(octave octave-dev) ;;
    bench) want+=(libssl-dev octave octave-dev octave-instrument-control) ;;
    *) echo "deps.sh: unknown job '$job'" >&2; exit 2 ;;
  esac
done

missing=()
for pkg in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
