#!/usr/bin/env bash
# check-metainfo.sh SOURCE_DIR VERSION: what the packages say about themselves keeps up with the
# project: the newest AppStream release and the Debian changelog name the project's version, and
# every screenshot the metainfo shows is one of docs/screenshots, at its real size.
set -uo pipefail
source_dir=$1 version=$2
metainfo=$source_dir/resources/com.Lanternfish.MacClient.metainfo.xml
failed=0
bad() {
    echo "FAIL: $*"
    failed=1
}

newest=$(grep -o '<release version="[^"]*"' "$metainfo" | head -n 1 | cut -d'"' -f2)
[[ $newest == "$version" ]] || bad "the newest release in the metainfo is '$newest', the project is $version"
changelog=$(head -n 1 "$source_dir/resources/debian/changelog")
[[ $changelog == "lanternfish ($version) "* ]] || bad "the changelog starts with '$changelog', the project is $version"

# Width and height from a PNG's header.
png_size() {
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%d %d", $1*16777216 + $2*65536 + $3*256 + $4, $5*16777216 + $6*65536 + $7*256 + $8 }'
}
shots=0
while read -r width height url; do
    shots=$((shots + 1))
    file=$source_dir/docs/screenshots/${url##*/}
    if [[ ! -f $file ]]; then
        bad "the screenshot $url is not in docs/screenshots"
    elif [[ $(png_size "$file") != "$width $height" ]]; then
        bad "${url##*/} is $(png_size "$file"), the metainfo says $width $height"
    fi
done < <(sed -n 's|.*<image type="source" width="\([0-9]*\)" height="\([0-9]*\)">\([^<]*\)</image>.*|\1 \2 \3|p' "$metainfo")
[[ $shots -gt 0 ]] || bad "the metainfo shows no screenshot"
exit $failed
