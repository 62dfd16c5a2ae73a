#!/usr/bin/env bash
# check-links.sh SOURCE-DIR: every relative link in README.md and docs/*.md names a file that exists,
# and a link to a heading of a Markdown file names a heading that is there.
set -uo pipefail
root=$1
cd "$root" || exit 1
failed=0
checked=0

# The anchors a Markdown file's headings get, one a line (lower case, punctuation dropped, spaces as -).
anchors() {
    sed -n '/^```/,/^```/!{/^#\{1,6\} /p}' "$1" | sed 's/^#* //' | tr '[:upper:]' '[:lower:]' |
        sed 's/[^a-z0-9 _-]//g; s/ /-/g'
}

# The link targets of a Markdown file outside code blocks, one a line: [text](target) and ![alt](target).
targets() {
    sed '/^```/,/^```/d' "$1" | grep -o '\]([^)[:space:]]*)' | sed 's/^](//; s/)$//'
}

for doc in README.md docs/*.md; do
    [[ -f $doc ]] || continue
    dir=$(dirname "$doc")
    while IFS= read -r target; do
        case $target in
        http://* | https://* | mailto:*) continue ;;
        esac
        path=${target%%#*}
        anchor=
        [[ $target == *'#'* ]] && anchor=${target#*#}
        file=$doc
        if [[ -n $path ]]; then
            file=$dir/$path
            if [[ ! -e $file ]]; then
                echo "$doc: link to $target: no such file"
                failed=1
                continue
            fi
        fi
        if [[ -n $anchor && $file == *.md ]] && ! anchors "$file" | grep -qxF -- "$anchor"; then
            echo "$doc: link to $target: no heading with that anchor in $file"
            failed=1
        fi
        checked=$((checked + 1))
    done < <(targets "$doc")
done

# A pattern that stopped matching would pass every time: the README alone links to the docs and images.
if ((checked < 10)); then
    echo "only $checked links found in README.md and docs/*.md"
    failed=1
fi
exit $failed
