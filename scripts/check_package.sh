#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Checks a built Debian package as a user would meet it, unpacked into a
# temporary folder (dpkg-deb -x), not installed: the programs run from there
# and report the package's version, sondrel-tag reads a sample, sondrel
# starts without a display and finds its languages and skins in the unpacked
# share/sondrel, the desktop entry and AppStream file validate, both manual
# pages render without warnings, and the package holds exactly the expected
# files (in bin/ only the two programs).
#   bash scripts/check_package.sh build/package/sondrel_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
deb=$(realpath "$1")
id=io.github.sondrel.Sondrel
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

dpkg-deb -x "$deb" "$tmp/root"
usr=$tmp/root/usr
version=$(dpkg-deb -f "$deb" Version)

# The package's files, exactly: the fixed ones and the data files of the tree.
expected=(
  usr/bin/sondrel usr/bin/sondrel-tag
  usr/share/applications/$id.desktop
  usr/share/metainfo/$id.metainfo.xml
  usr/share/icons/hicolor/scalable/apps/$id.svg
  usr/share/icons/hicolor/48x48/apps/$id.png
  usr/share/icons/hicolor/128x128/apps/$id.png
  usr/share/icons/hicolor/256x256/apps/$id.png
  usr/share/man/man1/sondrel.1 usr/share/man/man1/sondrel-tag.1
  usr/share/bash-completion/completions/sondrel-tag
  usr/share/zsh/vendor-completions/_sondrel-tag
  usr/share/fish/vendor_completions.d/sondrel-tag.fish
  usr/share/doc/sondrel/README.md usr/share/doc/sondrel/LICENSE usr/share/doc/sondrel/copyright
  usr/share/sondrel/sites.dat
)
while IFS= read -r f; do expected+=("usr/share/sondrel/${f#"$root"/resources/}"); done \
  < <(ls "$root"/resources/*.html)
while IFS= read -r f; do expected+=("usr/share/sondrel/$(basename "$f")"); done \
  < <(ls "$root"/resources/lang/*.lng)
while IFS= read -r f; do expected+=("usr/share/sondrel/${f#"$root"/resources/}"); done \
  < <(find "$root/resources/skins" -type f)
printf '%s\n' "${expected[@]}" | sort >"$tmp/expected"
# Lines of "dpkg-deb -c": mode, owner, size, date, time, path (which may
# hold spaces: "skins/Windows XP blue").
dpkg-deb -c "$deb" | grep -v '^d' | sed -E 's/^([^ ]+ +){5}//; s|^\./||' | sort >"$tmp/listed"
if diff -u "$tmp/expected" "$tmp/listed" >"$tmp/diff"; then
  ok "the package holds the $(wc -l <"$tmp/listed") expected files"
else
  fail "the package's files differ from the expected ones (- expected, + in the package):"
  sed -n '3,$p' "$tmp/diff" | grep '^[-+]' >&2 || true
fi
[ "$(ls "$usr/bin")" = "$(printf 'sondrel\nsondrel-tag')" ] && ok "bin/ holds only the two programs" \
  || fail "bin/ holds: $(ls "$usr/bin" | tr '\n' ' ')"

# A package never carries a sanitizer build, and it names what it needs.
for p in sondrel sondrel-tag; do
  if readelf -d "$usr/bin/$p" | grep -q 'lib[at]san\|libubsan'; then fail "$p is a sanitizer build"; fi
done
depends=$(dpkg-deb -f "$deb" Depends)
for need in libqt6widgets6 libtag1v5 libcurl4 qt6-qpa-plugins; do
  case "$depends" in *"$need"*) ;; *) fail "Depends lacks $need: $depends" ;; esac
done
ok "Depends: $depends"

# The programs, run from where they were unpacked.
out=$("$usr/bin/sondrel-tag" --version)
[ "$out" = "sondrel-tag $version" ] && ok "$out" || fail "sondrel-tag --version: '$out', package $version"
out=$("$usr/bin/sondrel" --version)
[ "$out" = "sondrel $version" ] && ok "$out" || fail "sondrel --version: '$out', package $version"
sample="$root/samples/01 - Morning Tune.mp3"
if out=$("$usr/bin/sondrel-tag" show "$sample") && grep -q 'Morning Tune' <<<"$out"; then
  ok "sondrel-tag show reads a sample"
else
  fail "sondrel-tag show $sample: $out"
fi
# A home of its own: the user's data folder is empty, so what is found comes
# from the unpacked share/sondrel.
mkdir -p "$tmp/home"
if out=$(HOME=$tmp/home XDG_DATA_HOME=$tmp/home/data XDG_CONFIG_HOME=$tmp/home/config \
  QT_QPA_PLATFORM=offscreen "$usr/bin/sondrel" --data-files 2>"$tmp/err"); then
  echo "$out" | sed 's/^/    /'
  grep -q "^  $usr/share/sondrel\$" <<<"$out" || fail "sondrel did not look in $usr/share/sondrel"
  grep -q '^Languages: .*English.*German.*Russian' <<<"$out" || fail "sondrel found no languages"
  grep -q '^Skins: .*Graphite' <<<"$out" || fail "sondrel found no skins"
  grep -q "^English.html: $usr/share/sondrel/English.html" <<<"$out" || fail "no help page"
  ok "sondrel starts and finds its data files"
else
  fail "sondrel --data-files: $out $(cat "$tmp/err")"
fi

# The metadata and manual pages.
desktop-file-validate "$usr/share/applications/$id.desktop" && ok "desktop entry validates" \
  || fail "desktop-file-validate"
appstreamcli validate --no-net "$usr/share/metainfo/$id.metainfo.xml" >"$tmp/as" 2>&1 \
  && ok "AppStream file validates" || { cat "$tmp/as" >&2; fail "appstreamcli validate"; }
for page in sondrel sondrel-tag; do
  warnings=$(MANWIDTH=80 man --warnings -l "$usr/share/man/man1/$page.1" 2>&1 >/dev/null || true)
  [ -z "$warnings" ] && ok "$page.1 renders without warnings" || fail "$page.1: $warnings"
done

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed" >&2; exit 1; }
echo "package $(basename "$deb") passes"
