#!/usr/bin/env bash
# Sources the bash completion as bash-completion would and checks what it offers:
# check-completion.sh COMPLETION-SCRIPT [LANTERNFISH-CLI]
# With the program given, every command its --help lists must be offered, so the two cannot drift.
set -uo pipefail
script=$1
cli=${2:-}
# shellcheck source=/dev/null
source "$script" || { echo "cannot source $script"; exit 1; }
failed=0

# Offers for the words of a command line whose last word is being typed.
offers() {
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _lanternfish_cli
    printf '%s\n' "${COMPREPLY[@]}"
}

expect() { # WANTED WORD...
    local wanted=$1
    shift
    if ! offers "$@" | grep -qxF -- "$wanted"; then
        echo "completing '$*' does not offer $wanted (offers: $(offers "$@" | tr '\n' ' '))"
        failed=1
    fi
}

expect share lanternfish-cli sh
expect --accept-terms lanternfish-cli signup Ann Example ann@example.org --acc
expect --password-stdin lanternfish-cli signin ann@example.org --pass
expect --json lanternfish-cli status --
expect create lanternfish-cli groups c
expect --message lanternfish-cli share --to bob@example.org --m
if [[ -n $(offers lanternfish-cli sh | grep -v '^share$') ]]; then
    echo "completing 'sh' offers more than share: $(offers lanternfish-cli sh | tr '\n' ' ')"
    failed=1
fi

# Group and site names come from the program's answer, quoted and filtered by what is typed.
names=$(mktemp -d)
trap 'rm -rf "$names"' EXIT
printf '#!/bin/sh\n[ "$1" = complete-names ] && printf "%%s\\n" "%%Book Club" %%Family @PhotoStream\n' \
    >"$names/lanternfish-cli"
chmod +x "$names/lanternfish-cli"
expect '%Book\ Club' "$names/lanternfish-cli" share --to %b
expect '@PhotoStream' "$names/lanternfish-cli" share --to bob@example.org @
if [[ $(offers "$names/lanternfish-cli" share --to %f) != %Family ]]; then
    echo "completing '%f' offers $(offers "$names/lanternfish-cli" share --to %f | tr '\n' ' ')"
    failed=1
fi

if [[ -n $cli ]]; then
    listed=$("$cli" --help | sed -n '/^Commands:/,/^$/s/^  \([a-z-]*\) .*/\1/p' | sort -u)
    [[ -n $listed ]] || { echo "no commands found in $cli --help"; failed=1; }
    for command in $listed; do
        expect "$command" lanternfish-cli "${command:0:2}"
    done
fi
exit $failed
