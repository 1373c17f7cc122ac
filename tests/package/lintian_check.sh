#!/usr/bin/env bash
# Runs lintian on the Debian package; any error fails, warnings are shown.
#   lintian_check.sh PACKAGE.deb
# Three errors wait on the owner and are left out until then, by name:
#   no-copyright-file   the project has no licence yet;
#   malformed-contact   the maintainer "Velmora 2D Studio" has no address;
#   no-changelog        a Debian changelog entry is signed with that address.
# Drop a name from the list once its cause is settled.
set -euo pipefail
if [ $# -ne 1 ] || [ ! -f "$1" ]; then
    echo "usage: $0 PACKAGE.deb" >&2
    exit 2
fi
pending=no-copyright-file,malformed-contact,no-changelog
echo "lintian (not checked until the owner settles them: $pending)"
lintian --display-info --fail-on error --suppress-tags "$pending" "$1"
echo "lintian: no errors"
