#!/usr/bin/env bash
# Loads sprite-sheet JSON files with the real clients in node (PixiJS 8,
# Phaser 3 and 4, versions pinned in tests/clients/package-lock.json).
# Usage: scripts/client_test.sh SHEET.json...
# A PREFIX.anims.json among them is Phaser's animations file of the atlas
# PREFIX.json: Phaser 3 and 4 load it with anims.fromJSON and play it.
# Each sheet's image is the file its meta.image names, next to the JSON. A
# sheet whose meta.related_multi_packs names other pages is page 0 of an atlas
# of several pages (PREFIX-0.json): every page, and PREFIX.multiatlas.json for
# Phaser, is loaded with it. A sheet named PREFIX@Sx.json (PREFIX-0@Sx.json
# for pages) is the scale-S variant of PREFIX.json (PREFIX-0.json) beside it:
# loaded as any sheet at the resolution its name gives, then checked against
# scale 1 as games pick and show variants.
# Status: 0 all load, 1 a sheet fails to load (each problem printed),
# 2 usage, 77 the npm registry cannot be reached to install the clients.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
source "$root/scripts/deps.sh"

if [ $# -eq 0 ]; then
    echo "usage: scripts/client_test.sh SHEET.json..." >&2
    exit 2
fi
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
    ensure_packages "${CLIENT_TEST_PACKAGES[@]}"
fi

# The clients are installed in the build tree, never in the sources.
work="${VELMORA_CLIENT_DIR:-$root/build/client-tests}"
mkdir -p "$work"
cp "$root/tests/clients/package.json" "$root/tests/clients/package-lock.json" \
    "$root/tests/clients/browser.mjs" "$root/tests/clients/load_sheet.mjs" \
    "$root/tests/clients/load_pages.mjs" "$root/tests/clients/load_anims.mjs" \
    "$root/tests/clients/load_scales.mjs" "$work/"
stamp="$work/node_modules/.velmora-lock"
if ! cmp -s "$work/package-lock.json" "$stamp" 2>/dev/null; then
    log="$work/npm-ci.log"
    if ! (cd "$work" && npm ci --ignore-scripts --no-audit --no-fund >"$log" 2>&1); then
        if grep -qE 'ENOTFOUND|EAI_AGAIN|ECONNREFUSED|ECONNRESET|ETIMEDOUT|ENETUNREACH|network|proxy' "$log"; then
            echo "client tests skipped: the npm registry cannot be reached to install the pinned clients" >&2
            echo "  ($(grep -m1 -E 'ENOTFOUND|EAI_AGAIN|ECONNREFUSED|ECONNRESET|ETIMEDOUT|ENETUNREACH|network|proxy' "$log"))" >&2
            exit 77
        fi
        echo "npm ci failed; its log:" >&2
        cat "$log" >&2
        exit 1
    fi
    cp "$work/package-lock.json" "$stamp"
fi

status=0
for sheet in "$@"; do
    sheet="$(cd "$(dirname "$sheet")" && pwd)/$(basename "$sheet")"
    # PREFIX.anims.json: Phaser's animations, with the atlas PREFIX.json.
    case "$sheet" in *.anims.json)
        node "$work/load_anims.mjs" "${sheet%.anims.json}.json" "${sheet%.anims.json}.png" "$sheet" || status=1
        continue ;;
    esac
    pages="$(node -e 'const d=JSON.parse(require("fs").readFileSync(process.argv[1],"utf8"));process.stdout.write((d.meta||{}).related_multi_packs===undefined?"one":"several")' "$sheet")" || {
        echo "$sheet: not readable as JSON" >&2
        status=1
        continue
    }
    # A scale variant, besides loading as any sheet: against its scale 1.
    case "$(basename "$sheet")" in *@[0-9]*x.json)
        node "$work/load_scales.mjs" "$sheet" || status=1 ;;
    esac
    if [ "$pages" = several ]; then
        node "$work/load_pages.mjs" "$sheet" || status=1
        continue
    fi
    image="$(node -e 'const d=JSON.parse(require("fs").readFileSync(process.argv[1],"utf8"));process.stdout.write(String((d.meta||{}).image||""))' "$sheet")"
    if [ -z "$image" ] || [ ! -f "$(dirname "$sheet")/$image" ]; then
        echo "$sheet: meta.image \"$image\" is not a file next to it" >&2
        status=1
        continue
    fi
    node "$work/load_sheet.mjs" "$sheet" "$(dirname "$sheet")/$image" || status=1
done
exit $status
