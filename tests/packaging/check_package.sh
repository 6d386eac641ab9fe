#!/usr/bin/env bash
# Builds the two Debian packages from the build folder given as $1 into a
# temporary folder and checks them: each one's file list and control fields,
# lintian, the desktop entry, the file type, the manual pages, the
# completions, that the tools link no Qt GUI module; then, as root, that apt
# installs both (the exporter's user made, its unit not enabled) and purges
# both leaving nothing behind. Last, an install by hand into a prefix of its
# own, as into ~/.local.
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
declare -A deb
for package in orvanite-console orvanite-tools; do
    found=("$work"/out/${package}_2.1.2.2_*.deb)
    if [ ${#found[@]} -ne 1 ] || [ ! -f "${found[0]}" ]; then
        ls -l "$work/out"
        echo "FAIL: no single ${package}_2.1.2.2_*.deb"
        exit 1
    fi
    deb[$package]=${found[0]}
done

# Every file of each package, and nothing else (no test program, no library).
files() { dpkg-deb -c "$1" | awk '$1 !~ /^d/ { print $6 }' | sort; }
files "${deb[orvanite-console]}" >"$work/console-files"
sort >"$work/console-expected" <<'LIST'
./usr/bin/orvanite-console
./usr/share/applications/orvanite-console.desktop
./usr/share/doc/orvanite-console/changelog.gz
./usr/share/doc/orvanite-console/copyright
./usr/share/icons/hicolor/128x128/apps/orvanite-console.png
./usr/share/icons/hicolor/256x256/apps/orvanite-console.png
./usr/share/icons/hicolor/32x32/apps/orvanite-console.png
./usr/share/icons/hicolor/48x48/apps/orvanite-console.png
./usr/share/icons/hicolor/scalable/apps/orvanite-console.svg
./usr/share/man/man1/orvanite-console.1.gz
./usr/share/mime/packages/orvanite-console.xml
LIST
diff -u "$work/console-expected" "$work/console-files" ||
    fail "orvanite-console's files differ from the list"
files "${deb[orvanite-tools]}" >"$work/tools-files"
sort >"$work/tools-expected" <<'LIST'
./etc/default/orvanite-exporter
./usr/bin/orvanite-ctl
./usr/bin/orvanite-exporter
./usr/bin/orvanite-hostsim
./usr/lib/systemd/system/orvanite-exporter.service
./usr/share/bash-completion/completions/orvanite-ctl
./usr/share/doc/orvanite-tools/changelog.gz
./usr/share/doc/orvanite-tools/copyright
./usr/share/doc/orvanite-tools/examples/prometheus/orvanite-alerts.yml
./usr/share/doc/orvanite-tools/examples/prometheus/orvanite-web.yml
./usr/share/doc/orvanite-tools/examples/prometheus/prometheus.yml
./usr/share/man/man1/orvanite-ctl.1.gz
./usr/share/man/man1/orvanite-exporter.1.gz
./usr/share/man/man1/orvanite-hostsim.1.gz
./usr/share/zsh/vendor-completions/_orvanite-ctl
LIST
diff -u "$work/tools-expected" "$work/tools-files" ||
    fail "orvanite-tools' files differ from the list"

# The control fields; the dependencies come from the programs' libraries.
for package in orvanite-console orvanite-tools; do
    dpkg-deb -f "${deb[$package]}" Package Version Section Priority Maintainer >"$work/fields"
    cat >"$work/expected-fields" <<FIELDS
Package: $package
Version: 2.1.2.2
Section: admin
Priority: optional
Maintainer: Orvanite Systems Ltd. <support@orvanite.example>
FIELDS
    diff -u "$work/expected-fields" "$work/fields" || fail "$package: control fields"
    dpkg-deb -I "${deb[$package]}" >/dev/null || fail "$package: dpkg-deb -I"
done
depends() { echo ", $(dpkg-deb -f "${deb[$1]}" Depends),"; }
for lib in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libstdc++6; do
    [[ $(depends orvanite-console) == *", $lib "* ]] ||
        fail "orvanite-console's Depends lacks $lib: $(depends orvanite-console)"
done
for lib in adduser libc6 libqt6core6 libqt6network6 libstdc++6; do
    [[ $(depends orvanite-tools) == *", $lib"[\ ,]* ]] ||
        fail "orvanite-tools' Depends lacks $lib: $(depends orvanite-tools)"
done
for lib in libqt6gui6 libqt6widgets6; do
    [[ $(depends orvanite-tools) != *", $lib "* ]] ||
        fail "orvanite-tools depends on $lib: $(depends orvanite-tools)"
done
[ "$(dpkg-deb -f "${deb[orvanite-console]}" Description | head -1)" = \
    "operator console for a host's server job" ] ||
    fail "orvanite-console's Description: $(dpkg-deb -f "${deb[orvanite-console]}" Description | head -1)"
[ "$(dpkg-deb --ctrl-tarfile "${deb[orvanite-tools]}" | tar -xOf - ./conffiles)" = \
    /etc/default/orvanite-exporter ] || fail "orvanite-tools' conffiles"

# lintian: no error (warnings are printed for the record).
for package in orvanite-console orvanite-tools; do
    lintian --no-tag-display-limit "${deb[$package]}" >"$work/lintian" 2>/dev/null
    cat "$work/lintian"
    grep -q '^E: ' "$work/lintian" && fail "lintian reports errors in $package"
done

dpkg-deb -x "${deb[orvanite-console]}" "$work/root"
dpkg-deb -x "${deb[orvanite-tools]}" "$work/root"
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

# The packaged programs run; the tools load no Qt GUI or Widgets library.
[ "$("$root/bin/orvanite-ctl" --version)" = "orvanite-ctl 2.1.2.2" ] || fail "orvanite-ctl --version"
[ "$("$root/bin/orvanite-hostsim" --version)" = "orvanite-hostsim 2.1.2.2" ] ||
    fail "orvanite-hostsim --version"
"$root/bin/orvanite-hostsim" --help | grep -q '^Usage: ' || fail "orvanite-hostsim --help"
"$root/bin/orvanite-exporter" --version | grep -q '^orvanite-exporter 2\.1\.2\.2' ||
    fail "orvanite-exporter --version"
for program in orvanite-ctl orvanite-exporter orvanite-hostsim; do
    gui=$(ldd "$root/bin/$program" | grep -E 'libQt6(Gui|Widgets)')
    [ -z "$gui" ] || fail "$program links $gui"
done

# apt installs both packages and purges them, leaving nothing behind. This
# changes the machine, so it runs as root only (as in CI), and not where the
# packages are installed already.
apt_get() { apt-get -q -y -o DPkg::Lock::Timeout=300 "$@" >>"$work/apt.log" 2>&1; }
if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: apt install and purge: not root"
elif dpkg-query -W -f '${Status}' orvanite-console orvanite-tools 2>/dev/null | grep -q installed; then
    echo "SKIP: apt install and purge: orvanite packages are installed on this machine already"
elif getent passwd orvanite-exporter >/dev/null; then
    echo "SKIP: apt install and purge: the user orvanite-exporter exists already"
else
    if apt_get install --no-install-recommends "${deb[orvanite-console]}" "${deb[orvanite-tools]}"; then
        for f in /usr/bin/orvanite-console /usr/bin/orvanite-ctl /etc/default/orvanite-exporter \
            /usr/lib/systemd/system/orvanite-exporter.service; do
            [ -f "$f" ] || fail "installed: no $f"
        done
        getent passwd orvanite-exporter >/dev/null || fail "installed: no user orvanite-exporter"
        [ "$(stat -c '%U:%G %a' /etc/orvanite-exporter 2>&1)" = "root:orvanite-exporter 750" ] ||
            fail "installed: /etc/orvanite-exporter is $(stat -c '%U:%G %a' /etc/orvanite-exporter 2>&1)"
        enabled=$(find /etc/systemd/system -name 'orvanite-exporter.service' 2>/dev/null)
        [ -z "$enabled" ] || fail "installed: the unit is enabled: $enabled"
        [ "$(/usr/bin/orvanite-ctl --version)" = "orvanite-ctl 2.1.2.2" ] ||
            fail "installed: orvanite-ctl --version"
    else
        cat "$work/apt.log"
        fail "apt-get install"
    fi
    if apt_get purge orvanite-console orvanite-tools; then
        for f in /usr/bin/orvanite-console /usr/bin/orvanite-ctl /etc/default/orvanite-exporter \
            /etc/orvanite-exporter /usr/lib/systemd/system/orvanite-exporter.service \
            /usr/share/doc/orvanite-tools; do
            [ ! -e "$f" ] || fail "purged: $f is still there"
        done
        getent passwd orvanite-exporter >/dev/null && fail "purged: the user is still there"
        getent group orvanite-exporter >/dev/null && fail "purged: the group is still there"
        dpkg-query -W -f '${Status}\n' orvanite-console orvanite-tools 2>/dev/null |
            grep -qv 'not-installed' && fail "purged: $(dpkg-query -W -f '${Status}\n' \
            orvanite-console orvanite-tools 2>&1)"
    else
        cat "$work/apt.log"
        fail "apt-get purge"
    fi
    echo "installed and purged by apt"
fi

# By hand into a prefix of its own, as into ~/.local: the desktop's MIME
# and application caches are brought up to date, the zsh completion lands in
# the prefix's site-functions, and nothing goes to the system's folders.
local=$work/local
if ! env -u DESTDIR cmake --install "$build" --prefix "$local" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    fail "cmake --install --prefix"
fi
grep -qx '50:application/x-orvanite-hcf:\*.hcf' "$local/share/mime/globs2" 2>/dev/null ||
    fail "~/.local: the MIME database was not updated"
grep -q '^application/x-orvanite-hcf=orvanite-console.desktop;' \
    "$local/share/applications/mimeinfo.cache" 2>/dev/null ||
    fail "~/.local: the desktop database was not updated"
head -1 "$local/share/zsh/site-functions/_orvanite-ctl" 2>/dev/null | grep -qx '#compdef orvanite-ctl' ||
    fail "~/.local: no zsh completion in share/zsh/site-functions"
[ -f "$local/share/bash-completion/completions/orvanite-ctl" ] ||
    fail "~/.local: no bash completion"
for f in etc lib/systemd share/zsh/vendor-completions; do
    [ ! -e "$local/$f" ] || fail "~/.local: $f installed"
done

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "packages checked: $(basename "${deb[orvanite-console]}") $(basename "${deb[orvanite-tools]}")"
