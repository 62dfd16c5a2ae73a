#!/usr/bin/env bash
# check-man.sh MAN [--cli LANTERNFISH-CLI] PAGE...: every page renders at 80 columns without a warning
# from groff. With the program given, the commands of its page (PROGRAM.1) are the ones its --help lists,
# subcommands included, so the two cannot drift.
set -uo pipefail
man=$1
shift
cli=
if [[ ${1:-} == --cli ]]; then
    cli=$2
    shift 2
fi
failed=0
for page in "$@"; do
    warnings=$(MANWIDTH=80 "$man" --warnings -l "$page" 2>&1 >/dev/null)
    if [[ -n $warnings ]]; then
        echo "$page: $warnings"
        failed=1
    fi
done

# "command [subcommand]" of every entry of the page's COMMANDS section: the bold words of the line after
# each .TP, up to the first option or argument.
page_commands() {
    sed -n '/^\.SH COMMANDS/,/^\.SH /p' "$1" | sed -n '/^\.TP/{n;p}' |
        sed -E 's/^\.(B|BI|BR) +//' | sed -E 's/^"([^"]*)".*/\1/; t; s/^([^ ]*).*/\1/' |
        sed 's/\\-/-/g; s/\\f[BIRP]//g' | awk '{
            out = ""
            for (i = 1; i <= NF && $i ~ /^[a-z][a-z-]*$/; i++) out = out (out == "" ? "" : " ") $i
            print out
        }' | sort -u
}

# The same from --help: each form under "Commands:" (its synopsis ends at two spaces before the summary),
# up to its first option or argument.
help_commands() {
    "$1" --help | sed -n '/^Commands:/,/^$/p' | sed -n 's/^  \([a-z]\)/\1/p' | sed 's/  .*//' | awk '{
            out = ""
            for (i = 1; i <= NF && $i ~ /^[a-z][a-z-]*$/; i++) out = out (out == "" ? "" : " ") $i
            print out
        }' | sort -u
}

if [[ -n $cli ]]; then
    cli_page=
    for page in "$@"; do
        [[ $(basename "$page") == "$(basename "$cli").1" ]] && cli_page=$page
    done
    if [[ -z $cli_page ]]; then
        echo "no manual page $(basename "$cli").1 among: $*"
        exit 1
    fi
    from_page=$(page_commands "$cli_page")
    from_help=$(help_commands "$cli")
    if [[ -z $from_page || -z $from_help ]]; then
        echo "no commands found (page: '$from_page', --help: '$from_help')"
        failed=1
    fi
    while IFS= read -r missing; do
        [[ -n $missing ]] && echo "$cli --help lists '$missing', $cli_page does not" && failed=1
    done < <(comm -13 <(echo "$from_page") <(echo "$from_help"))
    while IFS= read -r extra; do
        [[ -n $extra ]] && echo "$cli_page lists '$extra', $cli --help does not" && failed=1
    done < <(comm -23 <(echo "$from_page") <(echo "$from_help"))
fi
exit $failed
