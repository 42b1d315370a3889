#!/usr/bin/env bash
# Builds the two Debian packages, installs them on this machine, checks what they installed and
# how the installed programs run, then removes them again. Needs root (or sudo) for dpkg.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"

build="$root/build/package"
debs="$build/debs"
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8

passed=0 failed=0 skipped=0
say() { echo "package-check: $*"; }
pass() { passed=$((passed + 1)); say "ok: $1"; }
fail() { failed=$((failed + 1)); say "FAILED: $1"; }
skip() { skipped=$((skipped + 1)); say "skipped: $1"; }
# check NAME COMMAND...: runs the command, shows its output only when it fails.
check() {
  local name="$1" out
  shift
  if out="$("$@" 2>&1)"; then pass "$name"; else
    fail "$name"
    printf '%s\n' "$out" | sed 's/^/    /' | head -40
  fi
}

installed=()
cleanup() {
  if [ "${#installed[@]}" -gt 0 ]; then
    $SUDO dpkg -r "${installed[@]}" >/dev/null || say "could not remove ${installed[*]}"
  fi
}
trap cleanup EXIT

bash scripts/setup-deps.sh

# Programs whose source is in the tree must be in the packages; the others are not written yet.
has_query=no has_agent=no
[ -f src/query/CMakeLists.txt ] && has_query=yes
[ -f src/agent/CMakeLists.txt ] && has_agent=yes

# The package is built at -O2, the level the test builds run at and Debian's own default. The
# tree is configured for /usr/local, as an ordinary build is: the packages must still use /usr.
say "building in $build"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
  -DCMAKE_INSTALL_PREFIX=/usr/local -DKESTRAVA_GUI=ON -DKESTRAVA_TESTS=OFF -DKESTRAVA_BENCH=OFF \
  -DKESTRAVA_FUZZ=OFF -DKESTRAVA_SANITIZE=OFF >/dev/null
cmake --build "$build" -j2
rm -rf "$debs"
(cd "$build" && cpack -G DEB -B "$debs" >/dev/null)

desktop_deb="$(ls "$debs"/kestrava_*.deb)"
agent_deb="$(ls "$debs"/kestrava-agent_*.deb 2>/dev/null || true)"
version="$(dpkg-deb -f "$desktop_deb" Version)"
say "built $(cd "$debs" && ls *.deb | tr '\n' ' ')"

# --- The packages as files -------------------------------------------------------------------
contains() { dpkg-deb -c "$1" | awk '{print $NF}' | grep -qx "./$2"; }
all_debs=("$desktop_deb")
[ -n "$agent_deb" ] && all_debs+=("$agent_deb")
check "the packages install under /usr and nothing under /usr/local, though the tree was configured for it" \
  bash -c "for d in ${all_debs[*]}; do dpkg-deb -c \$d | awk '{print \$NF}' |
    grep -vxE '\\./|\\./usr/|\\./usr/(bin|share)/.*' && exit 1; done; exit 0"
# lintian, as Debian's archive would run it: no error may be left; warnings are listed.
lintian_out="$(lintian --no-tag-display-limit "${all_debs[@]}" 2>&1 || true)"
check "lintian reports no error on the packages" \
  bash -c "printf '%s\n' \"\$1\" | grep '^E:' && exit 1; exit 0" _ "$lintian_out"
if grep -q '^W:' <<<"$lintian_out"; then say "lintian warnings:"; grep '^W:' <<<"$lintian_out" | sed 's/^/    /'; fi
check "Debian changelog's newest entry is the package's version ($version)" \
  bash -c "dpkg-parsechangelog -l packaging/changelog -S Version | tee /dev/stderr | grep -qxF '$version'"
check "each package holds its changelog.Debian.gz and copyright" \
  bash -c "$(declare -f contains); for d in ${all_debs[*]}; do p=\$(dpkg-deb -f \$d Package);
    contains \$d usr/share/doc/\$p/changelog.Debian.gz && contains \$d usr/share/doc/\$p/copyright ||
    { echo \"\$p lacks its changelog or copyright\"; exit 1; }; done"
check "kestrava package holds the program, desktop entry, icons, metainfo and manual page" \
  bash -c "$(declare -f contains); for f in usr/bin/kestrava usr/share/applications/kestrava.desktop \
    usr/share/icons/hicolor/scalable/apps/kestrava.svg usr/share/icons/hicolor/48x48/apps/kestrava.png \
    usr/share/metainfo/org.kestrava.Kestrava.metainfo.xml usr/share/man/man1/kestrava.1.gz; do
    contains '$desktop_deb' \$f || { echo missing \$f; exit 1; }; done"
check "kestrava package: section admin, Qt dependencies found by dpkg-shlibdeps" \
  bash -c "dpkg-deb -f '$desktop_deb' Section | grep -qx admin &&
    dpkg-deb -f '$desktop_deb' Depends | tee /dev/stderr | grep -q 'libqt6widgets6'"
check "metainfo's newest release is the project's version (${version%-*})" \
  bash -c "grep -o '<release version=\"[^\"]*\"' packaging/org.kestrava.Kestrava.metainfo.xml |
    head -1 | tee /dev/stderr | grep -qF '\"${version%-*}\"'"

# --- The licence: GPL-3.0-or-later, in the tree, in each package and in the metainfo ------------
check "LICENSE holds the full text of the GNU GPL version 3" cmp LICENSE /usr/share/common-licenses/GPL-3
check "metainfo's project_license is GPL-3.0-or-later" \
  grep -qx '  <project_license>GPL-3.0-or-later</project_license>' packaging/org.kestrava.Kestrava.metainfo.xml
# The copyright file of a package, read strictly in Debian's machine-readable format: every file
# of the package under GPL-3+, with the licence's own paragraph pointing at the full text.
copyright_says_gpl3() {
  local deb="$1" pkg file
  pkg="$(dpkg-deb -f "$deb" Package)"
  file="$(mktemp)"
  dpkg-deb --fsys-tarfile "$deb" | tar -xOf - "./usr/share/doc/$pkg/copyright" >"$file" || return 1
  # Debian's own interpreter, the one python3-debian is installed for.
  /usr/bin/python3 - "$file" "$deb" <<'PY'
import subprocess, sys
from debian.copyright import Copyright
with open(sys.argv[1], encoding="utf-8") as f:
    c = Copyright(f, strict=True)
assert c.header.upstream_name == "Kestrava", c.header.upstream_name
listing = subprocess.run(["dpkg-deb", "-c", sys.argv[2]], capture_output=True, text=True, check=True)
for line in listing.stdout.splitlines():
    path = line.split()[-1].lstrip("./")
    if path and not path.endswith("/"):
        p = c.find_files_paragraph(path)
        assert p is not None and p.license.synopsis == "GPL-3+", (path, p and p.license)
texts = [p.license.text for p in c.all_license_paragraphs() if p.license.synopsis == "GPL-3+"]
assert len(texts) == 1 and "/usr/share/common-licenses/GPL-3" in texts[0], texts
PY
  local rc=$?
  rm -f "$file"
  return $rc
}
check "kestrava package: usr/share/doc/kestrava/copyright, machine-readable, GPL-3+" \
  bash -c "$(declare -f copyright_says_gpl3); copyright_says_gpl3 '$desktop_deb'"
if [ -n "$agent_deb" ]; then
  check "kestrava-agent package: usr/share/doc/kestrava-agent/copyright, machine-readable, GPL-3+" \
    bash -c "$(declare -f copyright_says_gpl3); copyright_says_gpl3 '$agent_deb'"
fi

if [ "$has_query" = yes ]; then
  check "kestrava package holds kestrava-query and its manual page" \
    bash -c "$(declare -f contains); contains '$desktop_deb' usr/bin/kestrava-query &&
      contains '$desktop_deb' usr/share/man/man1/kestrava-query.1.gz"
else
  skip "kestrava-query is not in the tree yet (src/query)"
fi

if [ "$has_agent" = yes ]; then
  if [ -z "$agent_deb" ]; then
    fail "kestrava-agent package was not built"
  else
    check "kestrava-agent package holds the agent and its manual page, and nothing of the desktop" \
      bash -c "$(declare -f contains); contains '$agent_deb' usr/bin/kestrava-agent &&
        contains '$agent_deb' usr/share/man/man1/kestrava-agent.1.gz &&
        ! dpkg-deb -c '$agent_deb' | grep -E 'usr/bin/kestrava(-query)?\$|applications|icons'"
    check "kestrava-agent package depends on no Qt library" \
      bash -c "dpkg-deb -f '$agent_deb' Depends >&2 && ! dpkg-deb -f '$agent_deb' Depends | grep -i qt &&
        dpkg-deb -f '$agent_deb' Section | grep -qx admin"
  fi
else
  skip "kestrava-agent is not in the tree yet (src/agent)"
fi

# The metainfo, its launchable desktop entry and the icon, checked together as one file tree.
tree="$(mktemp -d /tmp/kestrava-package.XXXXXX)"
trap 'rm -rf "$tree"; cleanup' EXIT
dpkg-deb -x "$desktop_deb" "$tree"
check "appstreamcli validate-tree finds metainfo and desktop entry consistent" \
  appstreamcli validate-tree --no-net "$tree"
[ -n "$agent_deb" ] && dpkg-deb -x "$agent_deb" "$tree"

# --- Installed on this machine -----------------------------------------------------------------
for pkg in kestrava kestrava-agent; do
  if dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed"; then
    say "removing an earlier $pkg"
    $SUDO dpkg -r "$pkg" >/dev/null
  fi
done
# The directories of the packages that this machine has already: removing must leave them all.
existing_dirs="$tree/existing-dirs"
for d in "${all_debs[@]}"; do dpkg-deb -c "$d"; done | awk '$1 ~ /^d/ {print substr($NF, 2)}' |
  sort -u | while read -r dir; do [ ! -d "$dir" ] || echo "$dir"; done >"$existing_dirs"
to_install=("$desktop_deb")
[ -n "$agent_deb" ] && to_install+=("$agent_deb")
# apt resolves any library the packages need that is not there yet.
$SUDO apt-get install -y -qq --no-install-recommends "${to_install[@]}" >/dev/null
installed=(kestrava)
[ -n "$agent_deb" ] && installed+=(kestrava-agent)
say "installed ${installed[*]} $version"

check "desktop-file-validate on the installed desktop entry" \
  desktop-file-validate /usr/share/applications/kestrava.desktop
check "appstreamcli validate on the installed metainfo" \
  appstreamcli validate --no-net /usr/share/metainfo/org.kestrava.Kestrava.metainfo.xml
check "the entry's icon is installed in the hicolor theme and renders" \
  bash -c "icon=\$(sed -n 's/^Icon=//p' /usr/share/applications/kestrava.desktop) &&
    rsvg-convert -w 64 -h 64 /usr/share/icons/hicolor/scalable/apps/\$icon.svg -o '$tree/icon.png' &&
    file /usr/share/icons/hicolor/48x48/apps/\$icon.png | grep -q 'PNG image data, 48 x 48'"
check "installed kestrava finds every shared library" \
  bash -c "! ldd /usr/bin/kestrava | grep 'not found'"
# The desktop program has no command line: it must come up and keep running until stopped.
check "installed kestrava starts (offscreen) and keeps running" \
  bash -c "QT_QPA_PLATFORM=offscreen timeout 5 /usr/bin/kestrava; rc=\$?;
    [ \$rc -eq 124 ] || { echo \"kestrava ended with status \$rc\"; exit 1; }"

# man -l reads the page as man would; groff's warnings (-w) make a malformed page fail.
man_page() {
  local page="$1" section="${2:-1}"
  local file="/usr/share/man/man$section/$page.$section.gz"
  # dpkg may be set to leave out manual pages (path-exclude); then check the packaged copy.
  [ -f "$file" ] || file="$tree/usr/share/man/man$section/$page.$section.gz"
  check "man page $page renders without warnings" \
    bash -c "out=\$(MANWIDTH=80 man --warnings -l '$file' 2>&1 >/dev/null); [ -z \"\$out\" ] || { echo \"\$out\"; exit 1; };
      MANWIDTH=80 man -l '$file' | grep -q '^NAME' && lexgrog '$file' | grep -q '$page - '"
}
man_page kestrava
check "installed kestrava without a display says so in one line and exits 1; --version and --help need none" \
  bash -c "err=\$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM timeout 10 /usr/bin/kestrava 2>&1); rc=\$?;
    [ \$rc -eq 1 ] && [ \"\$err\" = 'kestrava: needs a graphical display; over SSH try \`xvfb-run -a kestrava\`' ] ||
      { echo \"status \$rc: \$err\"; exit 1; }
    env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/kestrava --version | grep -qxF 'kestrava ${version%-*}' &&
    env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/kestrava --help | grep -q '^Usage: kestrava'"

if [ "$has_query" = yes ]; then
  man_page kestrava-query
  man_page kestrava-classes 7
  check "kestrava-classes(7) gives every class its key, and each property its type, unit and source" \
    bash -c "page=\$(MANWIDTH=200 man -l /usr/share/man/man7/kestrava-classes.7.gz 2>/dev/null ||
        MANWIDTH=200 man -l '$tree/usr/share/man/man7/kestrava-classes.7.gz');
      for c in Win32_ComputerSystem Win32_LogicalDisk Win32_NTEventLogFile Win32_OperatingSystem \
        Win32_Process Win32_Processor Win32_Service; do grep -q \"^   \$c\\\$\" <<<\"\$page\" ||
        { echo \"no section for \$c\"; exit 1; }; done
      grep -q 'LogFileName \\(.\\) string, key' <<<\"\$page\" &&
      grep -q 'WorkingSetSize .* uint64, bytes' <<<\"\$page\" &&
      grep -q 'PeakWorkingSetSize .* integer, kilobytes' <<<\"\$page\" ||
      { echo \"\$page\" | grep -E 'LogFileName|WorkingSetSize'; exit 1; }"
  check "the other manual pages point to kestrava-classes(7)" \
    bash -c "for p in kestrava kestrava-query kestrava-agent; do
      zcat '$tree'/usr/share/man/man1/\$p.1.gz | grep -q 'kestrava\\\\-classes (7)' || { echo \$p; exit 1; }; done"
  check "no example in --help, the manual pages or the README acts on ssh.service" \
    bash -c "! { /usr/bin/kestrava-query --help; zcat '$tree'/usr/share/man/man1/*.1.gz; cat README.md; } |
      grep -n 'ssh\\.service'"
  check "every option of kestrava-query --help is in its manual page" \
    bash -c "page=\$(MANWIDTH=200 man -l /usr/share/man/man1/kestrava-query.1.gz 2>/dev/null ||
        MANWIDTH=200 man -l '$tree/usr/share/man/man1/kestrava-query.1.gz');
      for o in \$(/usr/bin/kestrava-query --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        grep -qe \"\$o\" <<<\"\$page\" || { echo \"not in the manual page: \$o\"; exit 1; }; done"
  check "installed kestrava-query --version prints the package's version" \
    bash -c "/usr/bin/kestrava-query --version | tee /dev/stderr | grep -qF '${version%-*}'"
  check "installed kestrava-query \"Select * From Win32_OperatingSystem\" prints the name of this system" \
    bash -c "out=\$(timeout 60 /usr/bin/kestrava-query 'Select * From Win32_OperatingSystem') &&
      printf '%s\n' \"\$out\" | head -3 | cut -c1-160 && [ \$(printf '%s\n' \"\$out\" | wc -l) -ge 3 ] &&
      head -1 <<<\"\$out\" | grep -q Caption && . /etc/os-release && grep -qF \"\$PRETTY_NAME\" <<<\"\$out\""
  check "installed kestrava-query refuses a bad query on stderr with a failure status" \
    bash -c "err=\$(timeout 60 /usr/bin/kestrava-query 'Select From' 2>&1 >/dev/null); rc=\$?;
      [ \$rc -ge 1 ] && [ \$rc -le 125 ] && grep -qi 'invalid query' <<<\"\$err\" ||
      { echo \"status \$rc: \$err\"; exit 1; }"
  check "installed kestrava-query refuses an unknown option with status 2" \
    bash -c "/usr/bin/kestrava-query --no-such-option 'Select * From Win32_Process' >/dev/null 2>&1;
      rc=\$?; [ \$rc -eq 2 ] || { echo \"status \$rc\"; exit 1; }"
fi

if [ -n "$agent_deb" ]; then
  man_page kestrava-agent
  check "installed kestrava-agent links no Qt library" \
    bash -c "! ldd /usr/bin/kestrava-agent | grep -i qt"
  check "installed kestrava-agent --version prints the package's version" \
    bash -c "/usr/bin/kestrava-agent --version | tee /dev/stderr | grep -qF '${version%-*}'"
  # With its input closed at once, the agent says hello and ends cleanly, as after a client's goodbye.
  check "installed kestrava-agent with an empty input exits 0 and says nothing on stderr" \
    bash -c "err=\$(timeout 10 /usr/bin/kestrava-agent </dev/null 2>&1 >/dev/null); rc=\$?;
      [ \$rc -eq 0 ] && [ -z \"\$err\" ] || { echo \"status \$rc: \$err\"; exit 1; }"
fi

# --- Removed again -----------------------------------------------------------------------------
$SUDO dpkg -r "${installed[@]}" >/dev/null
removed=("${installed[@]}")
installed=()
check "removing the packages leaves none of their files" \
  bash -c "for p in ${removed[*]}; do
      if dpkg-query -W -f='\${Status}' \$p 2>/dev/null | grep -q 'ok installed'; then echo still installed: \$p; exit 1; fi
    done
    for f in /usr/bin/kestrava /usr/bin/kestrava-query /usr/bin/kestrava-agent \
      /usr/share/applications/kestrava.desktop /usr/share/metainfo/org.kestrava.Kestrava.metainfo.xml; do
      [ ! -e \$f ] || { echo still there: \$f; exit 1; }; done"
check "removing the packages leaves every directory that was there before them" \
  bash -c "while read -r dir; do [ -d \"\$dir\" ] || { echo removed: \$dir; exit 1; }; done <'$existing_dirs'"

say "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
