#!/usr/bin/env bash
# Each folder includes only from itself or from a lower floor; folders on the
# same floor do not include each other. Tests, benchmarks and fuzz targets
# stand above all. Works from a clone or a source tarball (no git needed).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
declare -A floor=([link]=1 [scan]=2 [obd]=2 [sim]=2 [ui]=3 [gauges]=4 [dtc]=4 [drag]=4 [standard]=4 [codes]=4 [replay]=4 [charts]=4 [app]=5)
status=0
while IFS=: read -r file line text; do
  own=${file%%/*}
  [[ -n ${floor[$own]:-} ]] || continue
  used=$(sed -E 's|^#include "([^/]+)/.*|\1|' <<<"$text")
  if [[ $used != "$own" ]] && ! ((${floor[$used]:-99} < ${floor[$own]})); then
    echo "$file:$line: $own/ may not include from $used/" >&2
    status=1
  fi
done < <(scripts/source_files.sh | xargs -0 grep -n -H -E '^#include "[^/"]+/')
exit $status
