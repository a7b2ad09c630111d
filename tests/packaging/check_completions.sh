#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The completion scripts sondrel-tag printed: bash completes commands, the
# lookup services, each command's own options and file names; zsh and fish
# read theirs without a syntax error where those shells are installed.
#   check_completions.sh FOLDER   (holding bash, zsh and fish)
set -euo pipefail
dir=$1
failures=0
# COMPREPLY for a command line whose last word is being completed.
complete_bash() {
  bash -c '
    source "$1"; shift
    COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
    _sondrel_tag
    if ((${#COMPREPLY[@]})); then printf "%s\n" "${COMPREPLY[@]}" | sort | tr "\n" " "; fi
  ' _ "$dir/bash" "$@"
}
check() {
  local want=$1
  shift
  local got
  got=$(complete_bash "$@")
  if [ "$got" != "$want" ]; then
    echo "FAIL: '$*' completes to '$got', expected '$want'" >&2
    failures=$((failures + 1))
  fi
}
check "set show " sondrel-tag s
check "covers freedb lyrics musicbrainz " sondrel-tag lookup ""
check "--json " sondrel-tag show --js
check "--template " sondrel-tag rename --temp
check "--separator " sondrel-tag export --sep
check "--recursive " sondrel-tag parse --recu
check "--cover --cover-host " sondrel-tag lookup musicbrainz --cov
check "--delete " sondrel-tag pictures song.mp3 --del
check "" sondrel-tag show song   # file names: left to bash's default
check "--version " sondrel-tag --vers
if command -v zsh >/dev/null; then zsh -n "$dir/zsh" || failures=$((failures + 1)); fi
if command -v fish >/dev/null; then fish --no-execute "$dir/fish" || failures=$((failures + 1)); fi
[ "$failures" -eq 0 ]
