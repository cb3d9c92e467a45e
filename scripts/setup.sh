#!/usr/bin/env bash
# Prepares a machine for building and testing: the system libraries, CPython 3.13 and .venv.
# Safe to run again: it only installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."

debian_packages=(g++ make pkg-config libicu-dev libre2-dev liburiparser-dev libgtest-dev)

missing=()
for package in "${debian_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done

find_python() {
  if [ -x /usr/bin/python3.13 ] && /usr/bin/python3.13 -c 'import sysconfig,sys; sys.exit(0 if sysconfig.get_paths()["include"] else 1)' 2>/dev/null &&
     [ -f "$(/usr/bin/python3.13 -c 'import sysconfig; print(sysconfig.get_paths()["include"])')/Python.h" ]; then
    echo /usr/bin/python3.13
    return
  fi
  local root
  if command -v pyenv >/dev/null 2>&1; then root=$(pyenv root); else root="${PYENV_ROOT:-$HOME/.pyenv}"; fi
  local candidate
  for candidate in $(ls -d "$root"/versions/3.13.* 2>/dev/null | sort -V -r); do
    if [ -x "$candidate/bin/python3.13" ]; then
      echo "$candidate/bin/python3.13"
      return
    fi
  done
}

python=$(find_python || true)
if [ -z "$python" ] && apt-cache show python3.13-dev >/dev/null 2>&1; then
  missing+=(python3.13 python3.13-dev python3.13-venv)
fi

if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" = 0 ]; then
    echo "setup: installing ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "setup: missing system packages; run: sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
fi

[ -n "$python" ] || python=$(find_python || true)
if [ -z "$python" ]; then
  echo "setup: no CPython 3.13 found; install python3.13 and python3.13-dev (apt-get) or a pyenv 3.13 build" >&2
  exit 1
fi
if [ "$("$python" -c 'import sysconfig; print(sysconfig.get_config_var("Py_GIL_DISABLED") or 0)')" != 0 ]; then
  echo "setup: $python is a free-threaded build; the build with the interpreter lock is needed" >&2
  exit 1
fi

if [ ! -x .venv/bin/python ] || ! .venv/bin/python -c 'import sys; sys.exit(sys.version_info[:2] != (3, 13))'; then
  rm -rf .venv
  "$python" -m venv .venv
fi
stamp=.venv/.tolvo-requirements
if [ ! -f "$stamp" ] || ! cmp -s scripts/requirements-dev.txt "$stamp"; then
  .venv/bin/python -m pip install -q --disable-pip-version-check -r scripts/requirements-dev.txt
  cp scripts/requirements-dev.txt "$stamp"
fi
