#!/usr/bin/env bash
# Each folder includes only from itself or from a lower floor; folders on the
# same floor do not include each other. Tests, benchmarks and fuzz targets
# stand above all. Works from a clone or a source tarball (no git needed).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
declare -A floor=([core]=1 [link]=2 [obd]=3 [scan]=4 [sim]=4 [car]=4 [trip]=4 [ui]=5 [gauges]=6 [dtc]=6 [drag]=6 [standard]=6 [codes]=6 [replay]=6 [charts]=6 [monitors]=6 [report]=7 [app]=8)
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
