#!/usr/bin/env bash
# check-man.sh MAN PAGE...: every page renders at 80 columns without a warning from groff.
set -uo pipefail
man=$1
shift
failed=0
for page in "$@"; do
    warnings=$(MANWIDTH=80 "$man" --warnings -l "$page" 2>&1 >/dev/null)
    if [[ -n $warnings ]]; then
        echo "$page: $warnings"
        failed=1
    fi
done
exit $failed
