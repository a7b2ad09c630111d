#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Each manual page renders without a warning from man/groff (a line starting
# with "." or "'" is a request, and its words vanish), and the formats list of
# sondrel-tag(1) is whole.
#   check_man_pages.sh PAGE...
set -euo pipefail
failures=0
for page in "$@"; do
  warnings=$(MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null || true)
  if [ -n "$warnings" ]; then
    echo "FAIL: $page: $warnings" >&2
    failures=$((failures + 1))
  fi
  text=$(MANWIDTH=200 man -l "$page" 2>/dev/null | tr -s ' \n' '  ')
  case "$(basename "$page")" in
    sondrel-tag.1)
      [[ "$text" == *"(.ogg, .oga, .opus), WMA, Monkey's Audio, Musepack"* ]] \
        || { echo "FAIL: $page: the formats list lost words" >&2; failures=$((failures + 1)); } ;;
  esac
done
[ "$failures" -eq 0 ]
