#!/bin/sh
# Installs the build tree into a temporary prefix and checks what a desktop
# needs: the program, the menu entry (accepted by desktop-file-validate), the
# icon in the hicolor theme and the user guide where the program looks for it.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
status=0
for f in bin/orvalin share/applications/orvalin.desktop \
         share/icons/hicolor/scalable/apps/orvalin.svg \
         share/doc/orvalin/guide/index.html share/doc/orvalin/guide/main-window.html; do
  if [ ! -s "$prefix/$f" ]; then echo "missing: $f"; status=1; fi
done
desktop-file-validate "$prefix/share/applications/orvalin.desktop" || status=1
grep -q '^Exec=orvalin$' "$prefix/share/applications/orvalin.desktop" || { echo "Exec"; status=1; }
grep -q '^Icon=orvalin$' "$prefix/share/applications/orvalin.desktop" || { echo "Icon"; status=1; }
# Every page the guide links to ships with it.
for page in $(grep -o 'href="[a-z-]*\.html"' "$prefix"/share/doc/orvalin/guide/*.html |
              sed 's/.*href="//; s/"$//' | sort -u); do
  [ -f "$prefix/share/doc/orvalin/guide/$page" ] || { echo "broken link: $page"; status=1; }
done
exit $status
