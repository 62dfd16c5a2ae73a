#!/usr/bin/env bash
# check-format-without-git.sh SOURCE_DIR WORK_DIR: `scripts/test --format-only` in a copy of the tree
# without .git (as unpacked from an archive) passes, finds a misformatted file in any source folder,
# and leaves build folders (generated sources) alone.
set -uo pipefail
source_dir=$1 work=$2
rm -rf "$work"
mkdir -p "$work/tree"
trap 'rm -rf "$work"' EXIT
failed=0
bad() {
    echo "FAIL: $*"
    failed=1
}

# The tree without .git and without build folders (they may be large).
for entry in "$source_dir"/* "$source_dir"/.[!.]*; do
    [[ -e $entry && $(basename "$entry") != .git && ! -e $entry/CMakeCache.txt ]] || continue
    cp -a "$entry" "$work/tree/"
done
tree=$work/tree
[[ ! -e $tree/.git ]] || { echo "FAIL: the copy has .git"; exit 1; }

out=$("$tree/scripts/test" --format-only 2>&1) || bad "the clean tree fails: $out"

# Misformatted files in several source folders are all found; generated code in a build folder is
# nobody's to format.
planted=(src/core/foundation/Misformatted.h devserver/misformatted.cpp tests/e2e/Misformatted.cpp)
for file in "${planted[@]}" build-elsewhere/src/moc_generated.cpp; do
    mkdir -p "$(dirname "$tree/$file")"
    printf 'int  misformatted( ){return 0 ;}\n' >"$tree/$file"
done
touch "$tree/build-elsewhere/CMakeCache.txt"
if out=$("$tree/scripts/test" --format-only 2>&1); then
    bad "misformatted files passed"
else
    for file in "${planted[@]}"; do
        [[ $out == *"$file"* ]] || bad "$file was not checked: $out"
    done
    [[ $out != *moc_generated* ]] || bad "a build folder's sources were checked: $out"
fi
exit $failed
