#!/usr/bin/env bash
# Builds the Debian package from the build folder given as $1 into a temporary
# folder and checks it: the file list, the control fields, lintian, the
# desktop entry, the file type, the manual pages and the completions.
set -uo pipefail

build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
debs=("$work"/out/orvanite-console_2.1.2.2_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
    ls -l "$work/out"
    echo "FAIL: no single orvanite-console_2.1.2.2_*.deb"
    exit 1
fi
deb=${debs[0]}

# Every file of the package, and nothing else (no test program, no library).
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort >"$work/files"
sort >"$work/expected" <<'LIST'
./usr/bin/orvanite-console
./usr/bin/orvanite-ctl
./usr/bin/orvanite-exporter
./usr/bin/orvanite-hostsim
./usr/share/applications/orvanite-console.desktop
./usr/share/bash-completion/completions/orvanite-ctl
./usr/share/doc/orvanite-console/changelog.gz
./usr/share/doc/orvanite-console/copyright
./usr/share/doc/orvanite-console/examples/prometheus/orvanite-alerts.yml
./usr/share/doc/orvanite-console/examples/prometheus/orvanite-exporter.service
./usr/share/doc/orvanite-console/examples/prometheus/orvanite-web.yml
./usr/share/doc/orvanite-console/examples/prometheus/prometheus.yml
./usr/share/icons/hicolor/128x128/apps/orvanite-console.png
./usr/share/icons/hicolor/256x256/apps/orvanite-console.png
./usr/share/icons/hicolor/32x32/apps/orvanite-console.png
./usr/share/icons/hicolor/48x48/apps/orvanite-console.png
./usr/share/icons/hicolor/scalable/apps/orvanite-console.svg
./usr/share/man/man1/orvanite-console.1.gz
./usr/share/man/man1/orvanite-ctl.1.gz
./usr/share/man/man1/orvanite-exporter.1.gz
./usr/share/man/man1/orvanite-hostsim.1.gz
./usr/share/mime/packages/orvanite-console.xml
./usr/share/zsh/vendor-completions/_orvanite-ctl
LIST
diff -u "$work/expected" "$work/files" || fail "the package's files differ from the list"

# The control fields; the dependencies come from the programs' libraries.
dpkg-deb -f "$deb" Package Version Section Priority Maintainer >"$work/fields"
cat >"$work/expected-fields" <<'FIELDS'
Package: orvanite-console
Version: 2.1.2.2
Section: admin
Priority: optional
Maintainer: Orvanite Systems Ltd. <support@orvanite.example>
FIELDS
diff -u "$work/expected-fields" "$work/fields" || fail "control fields"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libqt6core6 libqt6gui6 libqt6network6 libqt6widgets6 libstdc++6; do
    [[ ", $depends," == *", $lib "* ]] || fail "Depends lacks $lib: $depends"
done
[ "$(dpkg-deb -f "$deb" Description | head -1)" = "operator console for a host's server job" ] ||
    fail "Description: $(dpkg-deb -f "$deb" Description | head -1)"
dpkg-deb -I "$deb" >/dev/null || fail "dpkg-deb -I"

# lintian: no error (warnings are printed for the record).
lintian --no-tag-display-limit "$deb" >"$work/lintian" 2>/dev/null
cat "$work/lintian"
grep -q '^E: ' "$work/lintian" && fail "lintian reports errors"

dpkg-deb -x "$deb" "$work/root"
root=$work/root/usr

out=$(desktop-file-validate "$root/share/applications/orvanite-console.desktop" 2>&1)
[ -z "$out" ] || fail "desktop-file-validate: $out"
grep -qx 'MimeType=application/x-orvanite-hcf;' "$root/share/applications/orvanite-console.desktop" ||
    fail "the desktop entry does not open application/x-orvanite-hcf"

# The file type compiles and claims *.hcf.
mkdir -p "$work/mime/packages"
cp "$root/share/mime/packages/orvanite-console.xml" "$work/mime/packages/"
update-mime-database "$work/mime" || fail "update-mime-database"
grep -qx '50:application/x-orvanite-hcf:\*.hcf' "$work/mime/globs2" ||
    fail "globs2: $(cat "$work/mime/globs2" 2>/dev/null)"

for page in orvanite-console orvanite-ctl orvanite-exporter orvanite-hostsim; do
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l "$root/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man $page: $warnings"
done

# The installed bash completion offers orvanite-ctl's commands.
offered=$(bash -c '
    source "$1"
    COMP_WORDS=(orvanite-ctl set-priority 12 ""); COMP_CWORD=3; _orvanite_ctl
    echo "${COMPREPLY[*]}"
    COMP_WORDS=(orvanite-ctl co); COMP_CWORD=1; _orvanite_ctl
    echo "${COMPREPLY[*]}"' bash "$root/share/bash-completion/completions/orvanite-ctl")
[ "$offered" = $'CS DS ES\nconfig completion' ] || fail "bash completion offered: $offered"
head -1 "$root/share/zsh/vendor-completions/_orvanite-ctl" | grep -qx '#compdef orvanite-ctl' ||
    fail "the zsh completion does not start with #compdef"

# The packaged programs run.
[ "$("$root/bin/orvanite-ctl" --version)" = "orvanite-ctl 2.1.2.2" ] || fail "orvanite-ctl --version"
"$root/bin/orvanite-hostsim" --help | grep -q '^Usage: ' || fail "orvanite-hostsim --help"
[ "$("$root/bin/orvanite-exporter" --version | head -n 1)" = "orvanite-exporter 2.1.2.2" ] ||
    fail "orvanite-exporter --version"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "package checked: $(basename "$deb")"
