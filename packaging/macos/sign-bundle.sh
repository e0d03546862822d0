#!/bin/sh
# Signs Wexla.app inside out with the hardened runtime: wexlactl and the helper first, then the
# bundle, whose signature seals them. IDENTITY is a Developer ID Application identity of the team
# the helper admits (WexlaTeamID in the bundle's Info.plist, set by WEXLA_TEAM_ID), or "-" to sign
# ad hoc for checks (the helper refuses an ad hoc application).
#   packaging/macos/sign-bundle.sh build/Wexla.app "Developer ID Application: Name (TEAMID)"
set -eu
if [ $# -ne 2 ]; then
  echo "usage: $0 BUNDLE IDENTITY" >&2
  exit 2
fi
bundle=$1
identity=$2

set -- --force --sign "$identity" --options runtime
# A secure timestamp, which notarization wants, needs a real identity (and the network).
[ "$identity" = "-" ] || set -- "$@" --timestamp
codesign "$@" --identifier dev.wexla.wexlactl "$bundle/Contents/MacOS/wexlactl"
codesign "$@" --identifier dev.wexla.helper "$bundle/Contents/MacOS/wexla_helper"
codesign "$@" "$bundle"
codesign --verify --strict --verbose=2 "$bundle"

[ "$identity" = "-" ] && exit 0
admitted=$(/usr/libexec/PlistBuddy -c "Print :WexlaTeamID" "$bundle/Contents/Info.plist")
signed=$(codesign --display --verbose=2 "$bundle" 2>&1 | sed -n 's/^TeamIdentifier=//p')
if [ "$signed" != "$admitted" ]; then
  echo "$bundle is signed by team $signed, but its helper admits only team $admitted:" >&2
  echo "configure with -DWEXLA_TEAM_ID=$signed, build, and sign again" >&2
  exit 1
fi
echo "signed by team $signed, the team its helper admits"
