#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `cmake --install` of a build into a temporary prefix, as a user installs
# it: the programs alone in bin/, the data files in share/sondrel, the
# desktop entry, icons, AppStream file, manual pages, completions and
# documents where the desktop and man look; the metadata validates; and the
# program finds its data files through its own folder, the user's own
# first, wherever the tree is moved, writing nothing beside itself.
#   check_install.sh BUILD_DIR
set -euo pipefail
build=$1
id=io.github.sondrel.Sondrel
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
p=$tmp/prefix
[ "$(ls "$p/bin")" = "$(printf 'sondrel\nsondrel-tag')" ] || fail "bin/ holds: $(ls "$p/bin" | tr '\n' ' ')"
for f in share/sondrel/English.lng share/sondrel/German.lng share/sondrel/English.html \
  share/sondrel/sites.dat share/sondrel/skins/Graphite/default.sch \
  share/applications/$id.desktop share/metainfo/$id.metainfo.xml \
  share/icons/hicolor/scalable/apps/$id.svg share/icons/hicolor/48x48/apps/$id.png \
  share/icons/hicolor/128x128/apps/$id.png share/icons/hicolor/256x256/apps/$id.png \
  share/man/man1/sondrel.1 share/man/man1/sondrel-tag.1 \
  share/bash-completion/completions/sondrel-tag share/zsh/vendor-completions/_sondrel-tag \
  share/fish/vendor_completions.d/sondrel-tag.fish \
  share/doc/sondrel/LICENSE share/doc/sondrel/README.md; do
  [ -s "$p/$f" ] || fail "not installed: $f"
done
# Each PNG is the size its folder says.
for size in 48 128 256; do
  png=$p/share/icons/hicolor/${size}x$size/apps/$id.png
  got=$(od -An -tu1 -j16 -N8 "$png" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$got" = "${size}x$size" ] || fail "$png is $got"
done
grep -q 'GNU GENERAL PUBLIC LICENSE' "$p/share/doc/sondrel/LICENSE" || fail "LICENSE is not the GPL"
grep -q '<project_license>GPL-3.0-or-later</project_license>' "$p/share/metainfo/$id.metainfo.xml" \
  || fail "the AppStream file does not name the licence"

desktop-file-validate "$p/share/applications/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$p/share/metainfo/$id.metainfo.xml" || fail "appstreamcli validate"
# The entry opens every format the program reads.
mimes=$(sed -n 's/^MimeType=//p' "$p/share/applications/$id.desktop")
for m in audio/mpeg audio/ogg audio/x-vorbis+ogg audio/x-opus+ogg audio/x-flac+ogg audio/flac \
  audio/x-ms-wma audio/x-ape audio/x-musepack audio/mp4 inode/directory; do
  [[ ";$mimes" == *";$m;"* ]] || fail "the desktop entry lacks $m"
done

# One version: both programs report the same, the project's (with the
# checkout's commit after a "+"), and the AppStream release list starts with it.
export ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0
v_tag=$("$p/bin/sondrel-tag" --version)
v_app=$(QT_QPA_PLATFORM=offscreen "$p/bin/sondrel" --version)
[ "${v_tag#sondrel-tag }" = "${v_app#sondrel }" ] || fail "versions differ: '$v_tag', '$v_app'"
release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$p/share/metainfo/$id.metainfo.xml" | head -1)
case "${v_tag#sondrel-tag }" in
  "$release" | "$release"+*) ;;
  *) fail "the version '$v_tag' is not the release '$release'" ;;
esac

# Where the program finds its data: the user's folder first, then the
# installed share/sondrel seen from bin/, also after the tree is moved.
export QT_QPA_PLATFORM=offscreen HOME=$tmp/home XDG_CONFIG_HOME=$tmp/home/config
export ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0
mkdir -p "$tmp/user/sondrel" "$tmp/home"
cp "$p/share/sondrel/English.lng" "$tmp/user/sondrel/Mine.lng"
mv "$p" "$tmp/moved"
p=$tmp/moved
out=$(XDG_DATA_HOME=$tmp/user "$p/bin/sondrel" --data-files) || fail "sondrel --data-files failed: $out"
echo "$out"
folders=$(sed -n '/^Data folders/,/^Languages/p' <<<"$out" | sed -n 's/^  \([^ ]*\).*/\1/p' | head -2)
[ "$folders" = "$(printf '%s\n%s' "$tmp/user/sondrel" "$p/share/sondrel")" ] \
  || fail "looked in, in this order: $folders"
grep -q '^Languages: .*Mine' <<<"$out" || fail "the user's own language is not listed"
grep -q '^Skins: System, Graphite' <<<"$out" || fail "the installed skins are not listed"
grep -q "^English.html: $p/share/sondrel/English.html\$" <<<"$out" || fail "help page not found"
grep -q "^sites.dat: $p/share/sondrel/sites.dat\$" <<<"$out" || fail "lyrics site list not found"
[ "$(ls "$p/bin")" = "$(printf 'sondrel\nsondrel-tag')" ] || fail "written beside the program: $(ls "$p/bin")"

[ "$failures" -eq 0 ] || exit 1
