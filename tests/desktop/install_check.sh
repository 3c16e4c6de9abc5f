#!/bin/sh
# Installs the build tree into a temporary prefix and checks what a desktop
# needs: the programs, the menu entry (accepted by desktop-file-validate), the
# icon in the hicolor theme and the user guide where the program looks for it;
# then the systemd user unit (where the user manager reads it, starting the
# installed orvalind, accepted by systemd-analyze), the manual pages and the
# bash completion. The prefix holds a blank and a %, which both files that
# name a program must quote; a second install as a package does (DESTDIR,
# prefix /usr) puts the unit under lib/.
set -eu
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
prefix="$root/my home %u"
cmake --install "$build" --prefix "$prefix" >/dev/null
status=0
fail() { echo "$*"; status=1; }
for f in bin/orvalin bin/orvalind bin/orvalin-settings share/applications/orvalin.desktop \
         share/icons/hicolor/scalable/apps/orvalin.svg \
         share/doc/orvalin/guide/index.html share/doc/orvalin/guide/main-window.html \
         share/doc/orvalin/copyright share/systemd/user/orvalind.service \
         share/bash-completion/completions/orvalin-settings; do
  [ -s "$prefix/$f" ] || fail "missing: $f"
done
desktop-file-validate "$prefix/share/applications/orvalin.desktop" || status=1
grep -qxF "Exec=\"$root/my home %%u/bin/orvalin\"" "$prefix/share/applications/orvalin.desktop" ||
  fail "Exec: $(grep ^Exec= "$prefix/share/applications/orvalin.desktop")"
grep -q '^Icon=orvalin$' "$prefix/share/applications/orvalin.desktop" || fail "Icon"
# Every page the guide links to ships with it.
for page in $(grep -o 'href="[a-z-]*\.html"' "$prefix"/share/doc/orvalin/guide/*.html |
              sed 's/.*href="//; s/"$//' | sort -u); do
  [ -f "$prefix/share/doc/orvalin/guide/$page" ] || fail "broken link: $page"
done

unit="$prefix/share/systemd/user/orvalind.service"
grep -qxF "ExecStart=\"$root/my home %%u/bin/orvalind\"" "$unit" ||
  fail "ExecStart: $(grep ^ExecStart= "$unit")"
if [ -d "$build/man" ]; then
  for page in orvalin orvalind orvalin-settings; do
    [ -s "$prefix/share/man/man1/$page.1.gz" ] || fail "missing: man page $page(1)"
  done
  # systemd-analyze also opens the Documentation= page, and fails on a unit
  # that starts no executable; any message it prints counts as a failure.
  # Where it cannot verify even a plain unit (no systemd, a container that
  # refuses it), the check is skipped and says so.
  printf '[Service]\nExecStart=/bin/true\n' >"$root/plain.service"
  if ! command -v systemd-analyze >/dev/null; then
    echo "skipped: systemd-analyze verify (systemd-analyze is not installed)"
  elif ! why=$(systemd-analyze verify "$root/plain.service" 2>&1) || [ -n "$why" ]; then
    echo "skipped: systemd-analyze verify (it cannot run here${why:+: $why})"
  else
    problems=$(MANPATH="$prefix/share/man" systemd-analyze verify "$unit" 2>&1) || fail "verify failed"
    [ -z "$problems" ] || fail "systemd-analyze verify: $problems"
  fi
fi

# The completion offers commands, slots and the key table's keys.
completions() {
  bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _orvalin_settings
           echo "${COMPREPLY[*]}"' - "$prefix/share/bash-completion/completions/orvalin-settings" "$@"
}
[ "$(completions orvalin-settings rem)" = "remove-site" ] || fail "completion: commands"
[ "$(completions orvalin-settings site '')" = "1 2 3 4" ] || fail "completion: slots"
[ "$(completions orvalin-settings set-int Settings SMTP)" = "SMTPAuth SMTPTLSVerify" ] ||
  fail "completion: int keys: $(completions orvalin-settings set-int Settings SMTP)"
[ "$(completions orvalin-settings set-string Settings lastWebsiteT)" = \
  "lastWebsiteTitle0 lastWebsiteTitle1 lastWebsiteTitle2 lastWebsiteTitle3" ] ||
  fail "completion: string keys per slot"

# A package's install: prefix /usr under DESTDIR.
DESTDIR="$root/staged" cmake --install "$build" --prefix /usr >/dev/null
grep -qx 'ExecStart=/usr/bin/orvalind' "$root/staged/usr/lib/systemd/user/orvalind.service" ||
  fail "packaged unit: not /usr/lib/systemd/user/orvalind.service starting /usr/bin/orvalind"
grep -qx 'Exec=/usr/bin/orvalin' "$root/staged/usr/share/applications/orvalin.desktop" ||
  fail "packaged menu entry: Exec"
exit $status
