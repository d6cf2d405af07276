#!/usr/bin/env bash
# Every option that a program's help prints is described in its manual page.
# Usage: manual_pages.sh BIN_DIR SOURCE_DIR
set -euo pipefail
bin=$1
man=$2/packaging/man
status=0
# The manual page's text with roff's escaped hyphens and font changes taken out.
page_text() { sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$1"; }
check() {
  local page=$1 option
  shift
  while read -r option; do
    if ! page_text "$man/$page" | grep -qF -- "$option"; then
      echo "FAIL: $page does not describe $option"
      status=1
    fi
  done < <("$@")
}
options() { "$@" --help | grep -oE '(^|[][ ,(|])--?[a-z][a-z0-9-]*' | sed 's/^[][ ,(|]//' | sort -u; }
# The desktop program's keys, as the help of its windowless twin lists them.
keys() { "$bin/kvtr" batch --help | grep -E '^  /' | sed -E 's/  +[^ /].*$//' | grep -oE '/[a-z0-9]+' | sort -u; }
check kvtr.1 options "$bin/kvtr"
check kvtr-sim.1 options "$bin/kvtr-sim"
check kvtr-configurator.1 keys
[ $status -eq 0 ] && echo "PASS: every option of --help is in the manual pages"
exit $status
