#!/usr/bin/env bash
# check-package.sh BUILD_DIR WORK_DIR VERSION: packs the already built tree with CPack and checks
# the two Debian packages as apt and a desktop would see them: every installed file in exactly one
# package, dependencies found, no lintian error, valid AppStream and desktop files, and programs that
# run from an unpacked root.
set -uo pipefail
build=$1 work=$2 version=$3
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT
failed=0
bad() {
    echo "FAIL: $*"
    failed=1
}

if ! cpack --config "$build/CPackConfig.cmake" -B "$work/cpack" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack (are lanternfish, lanternfish-cli and lanternfish-devserver built?)"
    exit 1
fi
arch=$(dpkg --print-architecture)
client=$work/cpack/lanternfish_${version}_${arch}.deb
server=$work/cpack/lanternfish-devserver_${version}_${arch}.deb
for deb in "$client" "$server"; do
    [[ -f $deb ]] || { echo "FAIL: no $(basename "$deb") among: $(ls "$work/cpack")"; exit 1; }
done

# Files (not folders) a package holds, as absolute paths.
contents() {
    dpkg-deb --fsys-tarfile "$1" | tar -t | grep -v '/$' | sed 's|^\./|/|' | sort
}
contents "$client" >"$work/client.list"
contents "$server" >"$work/server.list"

# Everything `cmake --install` puts in place is in one package or the other, and in only one.
DESTDIR=$work/stage cmake --install "$build" --prefix /usr >/dev/null || bad "cmake --install failed"
(cd "$work/stage" && find . ! -type d | sed 's|^\./|/|' | sort) >"$work/installed.list"
sort "$work/client.list" "$work/server.list" >"$work/packaged.list"
missing=$(comm -23 "$work/installed.list" "$work/packaged.list")
[[ -z $missing ]] || bad "installed but in no package: $missing"
twice=$(uniq -d "$work/packaged.list")
[[ -z $twice ]] || bad "in both packages: $twice"
for f in /usr/bin/lanternfish /usr/bin/lanternfish-cli /usr/share/metainfo/com.Lanternfish.MacClient.metainfo.xml \
    /usr/share/applications/com.Lanternfish.MacClient.desktop /usr/share/man/man1/lanternfish.1.gz; do
    grep -qx "$f" "$work/client.list" || bad "lanternfish lacks $f"
done
grep -qx /usr/bin/lanternfish-devserver "$work/server.list" || bad "lanternfish-devserver lacks its program"
grep -q devserver "$work/client.list" && bad "the reference server is in the client's package"
# A package manager updates this install; the marker would let the program replace itself.
grep -q 'lanternfish-app\.json$' "$work/client.list" && bad "the client's package holds the self-update marker"

depends=$(dpkg-deb -f "$client" Depends)
for dep in libqt6widgets6 libcurl4 qt6-qpa-plugins; do
    [[ $depends == *"$dep"* ]] || bad "lanternfish does not depend on $dep: $depends"
done

# Errors only: warnings (hardening flags, say) do not stop an install.
lintian_out=$(lintian --fail-on error "$client" "$server" 2>&1) || bad "lintian: $lintian_out"

root=$work/root
dpkg-deb -x "$client" "$root" && dpkg-deb -x "$server" "$root" || bad "dpkg-deb -x failed"
appstreamcli validate --no-net "$root/usr/share/metainfo/com.Lanternfish.MacClient.metainfo.xml" >"$work/as.log" 2>&1 ||
    bad "appstreamcli validate: $(cat "$work/as.log")"
desktop-file-validate "$root/usr/share/applications/com.Lanternfish.MacClient.desktop" || bad "desktop entry"
grep -qx 'Exec=/usr/bin/lanternfish' "$root/usr/share/dbus-1/services/com.Lanternfish.MacClient.service" ||
    bad "the D-Bus service does not start /usr/bin/lanternfish: $(cat "$root/usr/share/dbus-1/services/com.Lanternfish.MacClient.service")"

# The unpacked programs run with the system's libraries alone.
for program in lanternfish lanternfish-cli lanternfish-devserver; do
    unresolved=$(ldd "$root/usr/bin/$program" | grep 'not found')
    [[ -z $unresolved ]] || bad "$program: $unresolved"
done
# Without a session bus (env -i), so a program that wrongly started could not take the bus name.
home=$work/home
mkdir -p "$home"
for program in lanternfish lanternfish-cli; do
    said=$(env -i PATH=/usr/bin:/bin HOME="$home" QT_QPA_PLATFORM=offscreen timeout 20 "$root/usr/bin/$program" --version 2>&1)
    [[ $said == "$program $version" ]] || bad "$program --version said: $said"
done

exit $failed
