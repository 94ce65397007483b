#!/usr/bin/env bash
# Fails when a library source includes a header of a layer above its own.
# The layers, bottom to top (folders on one line share a layer):
#   core | host containers | rle | segment | connect | results | run
# Public headers (include/cblob/) include only each other.
set -euo pipefail
cd "$(dirname "$0")/.."

rank() {
  case "$1" in
    core) echo 0 ;;
    host|containers) echo 1 ;;
    rle) echo 2 ;;
    segment) echo 3 ;;
    connect) echo 4 ;;
    results) echo 5 ;;
    run) echo 6 ;;
    *) echo -1 ;;
  esac
}

bad=0
for dir in src/*/; do
  layer=$(basename "$dir")
  own=$(rank "$layer")
  if [ "$own" -lt 0 ]; then
    echo "check_layers: src/$layer is not in the layer table" >&2
    bad=1
    continue
  fi
  while IFS=: read -r file line inc; do
    target=${inc%%/*}
    [ "$target" = cblob ] && continue
    to=$(rank "$target")
    if [ "$to" -lt 0 ] || [ "$to" -gt "$own" ]; then
      echo "check_layers: $file:$line includes $inc (layer '$target' is above '$layer')" >&2
      bad=1
    fi
  done < <(grep -rnoE '^#include "[^"]+"' "$dir" | sed -E 's/#include "([^"]+)"/\1/')
done

while IFS=: read -r file line inc; do
  case "$inc" in
    cblob/*) ;;
    *) echo "check_layers: $file:$line includes $inc (public headers include only cblob/)" >&2; bad=1 ;;
  esac
done < <(grep -rnoE '^#include "[^"]+"' include/cblob | sed -E 's/#include "([^"]+)"/\1/')

if [ $bad -eq 0 ]; then echo "check_layers: every include points down"; fi
exit $bad
