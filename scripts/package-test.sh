#!/usr/bin/env bash
# Builds the Debian package and checks it with lintian (scripts/package.sh), then installs
# it on this machine with apt-get, runs the installed marrowbeat-cli, renders the
# installed demo setup with its kit, and purges the package again. Installing needs
# root (or sudo); outside CI it runs only with MARROWBEAT_INSTALL_TEST=1, since it
# replaces any installed marrowbeat package.
set -euo pipefail
cd "$(dirname "$0")/.."
deb=$(scripts/package.sh | tail -n 1)
version=$(dpkg-deb -f "$deb" Version)
echo "built $deb (version $version), lintian: no errors"
if [ "${CI:-}" != "true" ] && [ "${MARROWBEAT_INSTALL_TEST:-}" != "1" ]; then
  echo "not installed: set MARROWBEAT_INSTALL_TEST=1 to install, run and purge it here"
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
work=$(mktemp -d /tmp/marrowbeat-package-XXXXXX)
purge() {
  if dpkg-query -W -f='${Status}' marrowbeat 2>/dev/null | grep -q 'installed'; then
    $sudo apt-get purge -y marrowbeat >/dev/null
  fi
}
cleanup() {
  purge
  rm -rf "$work"
}
trap cleanup EXIT
purge
$sudo apt-get install -y "./$deb"

got=$(/usr/bin/marrowbeat-cli --version)
if [ "$got" != "marrowbeat-cli $version" ]; then
  echo "the installed marrowbeat-cli says '$got', not 'marrowbeat-cli $version'" >&2
  exit 1
fi
echo "installed: $got"
# The demo setup finds its kit beside it, in the folder it was installed to.
render=$(/usr/bin/marrowbeat-cli render /usr/share/marrowbeat/kit/demo.mbx -o "$work/demo.wav" --seconds 4)
echo "$render"
case "$render" in
  *"16 of 16 sounds loaded"*) ;;
  *) echo "the installed demo setup did not load its sixteen sounds" >&2; exit 1 ;;
esac
# The LV2 plugin is where hosts look, with two audio outputs and a MIDI output, and its
# demo (through the bundle's kit link) is the installed one.
uri=https://marrowbeat.example/lv2/step-sequencer
env -u LV2_PATH lv2ls | grep -qx "$uri" || { echo "lv2ls does not list $uri" >&2; exit 1; }
info=$(env -u LV2_PATH lv2info "$uri")
audio=$(echo "$info" | awk '/Port [0-9]+:/ { if (a && o) n++; a = o = 0 }
  /AudioPort/ { a = 1 } /OutputPort/ { o = 1 } END { if (a && o) n++; print n + 0 }')
midi=$(echo "$info" | grep -c 'Symbol: *midi_out' || true)
if [ "$audio" != 2 ] || [ "$midi" != 1 ]; then
  echo "lv2info shows $audio audio outputs and $midi MIDI outputs, not 2 and 1" >&2
  exit 1
fi
[ -f /usr/lib/lv2/marrowbeat.lv2/kit/demo.mbx ] || { echo "the plugin's kit link is broken" >&2; exit 1; }
echo "installed: the LV2 plugin $uri"
# The maintainer scripts registered the file type and the desktop entry.
grep -q 'application/x-marrowbeat-setup' /usr/share/mime/globs2
grep -q 'application/x-marrowbeat-setup=marrowbeat.desktop' /usr/share/applications/mimeinfo.cache
desktop-file-validate /usr/share/applications/marrowbeat.desktop

purge
if grep -q 'application/x-marrowbeat-setup' /usr/share/mime/globs2; then
  echo "the file type is still registered after the package was purged" >&2
  exit 1
fi
echo "purged: the file type is gone with it"
