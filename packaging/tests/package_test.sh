#!/usr/bin/env bash
# Builds the .deb from a finished build tree and checks what a user installs:
# the layout, the desktop and AppStream files, lintian, the manual pages, and
# that the programs run from the unpacked tree, where no build path can help.
#   package_test.sh BUILD_DIR VERSION
set -uo pipefail
build=$1 version=$2

source "$(dirname "$0")/../../common/tests/support/require_programs.sh"
require_programs cpack dpkg-deb lintian appstreamcli desktop-file-validate man

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

if ! cpack --config "$build/CPackConfig.cmake" -B "$scratch/deb" >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
deb=$scratch/deb/velmora_${version}_$(dpkg --print-architecture).deb
if [ ! -f "$deb" ]; then
  ls "$scratch/deb"
  echo "FAIL: cpack wrote no $(basename "$deb")"
  exit 1
fi

# --- layout ------------------------------------------------------------------
dpkg-deb --contents "$deb" >"$scratch/contents"
cat "$scratch/contents"
# path, mode
expected=(
  "./usr/lib/velmora/Velmora -rwxr-xr-x"
  "./usr/lib/velmora/resources/bin/velmora-engine -rwxr-xr-x"
  "./usr/lib/velmora/resources/bin/velmora-mac-backend -rwxr-xr-x"
  "./usr/lib/velmora/resources/ui/index.html -rw-r--r--"
  "./usr/lib/velmora/resources/notices/index.html -rw-r--r--"
  "./usr/share/applications/org.velmora.Velmora.desktop -rw-r--r--"
  "./usr/share/icons/hicolor/scalable/apps/org.velmora.Velmora.svg -rw-r--r--"
  "./usr/share/metainfo/org.velmora.Velmora.metainfo.xml -rw-r--r--"
  "./usr/share/man/man1/velmora.1.gz -rw-r--r--"
  "./usr/share/man/man1/velmora-engine.1.gz -rw-r--r--"
  "./usr/share/doc/velmora/copyright -rw-r--r--"
  "./usr/share/doc/velmora/changelog.gz -rw-r--r--"
  "./usr/bin/velmora -rwxr-xr-x"
)
for entry in "${expected[@]}"; do
  read -r path mode <<<"$entry"
  actual=$(awk -v p="$path" '$6 == p { print $1 }' "$scratch/contents")
  [ "$actual" = "$mode" ] || fail "$path: expected $mode, package has '${actual:-nothing}'"
done
# Nothing may land outside the application's own places (no share/velmora,
# no multiarch folder, no tests, nothing owned by anyone but root).
awk '{ print $2, $6 }' "$scratch/contents" | while read -r owner path; do
  [ "$owner" = root/root ] || echo "FAIL: $path is owned by $owner"
  case "$path" in
    ./ | ./usr/ | ./usr/bin/ | ./usr/lib/ | ./usr/share/ | ./usr/share/man/ | ./usr/share/man/man1/ | ./usr/share/doc/) ;;
    ./usr/share/applications/ | ./usr/share/metainfo/ | ./usr/share/icons/ | ./usr/share/icons/hicolor/ | ./usr/share/icons/hicolor/*/) ;;
    */tests/*) echo "FAIL: test file packaged: $path" ;;
    ./usr/bin/velmora | ./usr/lib/velmora/* | ./usr/share/doc/velmora/*) ;;
    ./usr/share/man/man1/velmora*.1.gz | ./usr/share/applications/org.velmora.Velmora.desktop) ;;
    ./usr/share/metainfo/org.velmora.Velmora.metainfo.xml | ./usr/share/icons/hicolor/*/apps/org.velmora.Velmora.*) ;;
    *) echo "FAIL: unexpected path $path" ;;
  esac
done >"$scratch/stray"
if [ -s "$scratch/stray" ]; then
  cat "$scratch/stray"
  failures=$((failures + 1))
fi

# dpkg-shlibdeps, not a hand-written list, must have found every program's libraries.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
for library in libc6 libstdc++6 libglib2.0-0 libgtk-4-1 libwebkitgtk-6.0-4; do
  [[ ", $depends," == *", $library "* || ", $depends," == *", $library,"* ]] || fail "Depends lacks $library"
done

# --- the unpacked tree ---------------------------------------------------------
root=$scratch/root
dpkg-deb -x "$deb" "$root"

desktop=$root/usr/share/applications/org.velmora.Velmora.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate"
icon=$(sed -n 's/^Icon=//p' "$desktop")
compgen -G "$root/usr/share/icons/hicolor/*/apps/$icon.*" >/dev/null || fail "Icon=$icon has no file in hicolor"
read -r exec_program exec_rest <<<"$(sed -n 's/^Exec=//p' "$desktop")"
[ "$exec_rest" = "window %F" ] || fail "Exec does not open the window with the files: '$exec_rest'"
if [ ! -x "$root/usr/bin/$exec_program" ]; then
  fail "Exec=$exec_program is not a program of the package"
fi

metainfo=$root/usr/share/metainfo/org.velmora.Velmora.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli validate"
newest=$(grep -o -m1 '<release version="[^"]*"' "$metainfo" | cut -d'"' -f2)
[ "$newest" = "$version" ] || fail "newest AppStream release is $newest, the package is $version"
changelog_version=$(zcat "$root/usr/share/doc/velmora/changelog.gz" | sed -n '1s/^velmora (\([^)]*\)).*/\1/p')
[ "$changelog_version" = "$version" ] || fail "changelog's version is '$changelog_version', the package is $version"

for page in velmora velmora-engine; do
  file=$root/usr/share/man/man1/$page.1.gz
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>"$scratch/man.err")
  [ -s "$scratch/man.err" ] && fail "man -l $page: $(cat "$scratch/man.err")"
  grep -q "^SYNOPSIS" <<<"$text" || fail "man -l $page renders no SYNOPSIS"
  grep -q "^       $page " <<<"$text" || fail "man -l $page names no $page command"
done

# The installed programs must not know where they were built.
if grep -rlF "$build" "$root" >"$scratch/leaks"; then
  fail "the build folder's path is inside: $(tr '\n' ' ' <"$scratch/leaks")"
fi
ldd "$root/usr/lib/velmora/Velmora" | grep 'not found' && fail "the shell lacks libraries"

engine=$root/usr/lib/velmora/resources/bin/velmora-engine
engine_version=$("$engine" --version) || fail "velmora-engine --version failed"
[[ "$engine_version" == "velmora-engine $version "* ]] || fail "velmora-engine --version: '$engine_version'"

velmora=$root/usr/bin/velmora
velmora_version=$("$velmora" --version) || fail "velmora --version failed"
[[ "$velmora_version" == *"$version"* ]] || fail "velmora --version: '$velmora_version'"
if have_peer ffmpeg; then
  mkdir -p "$scratch/movies" "$scratch/stamped" "$scratch/home"
  ffmpeg -loglevel error -f lavfi -i testsrc=size=160x120:rate=25 -t 1 -c:v mpeg4 "$scratch/movies/clip.mov"
  if HOME=$scratch/home "$velmora" stamp --defaults --start 01:00:00:00 --output "$scratch/stamped" \
    "$scratch/movies/clip.mov"; then
    stamped=$(find "$scratch/stamped" -name '*.mov' | head -n1)
    if [ -z "$stamped" ]; then
      fail "velmora stamp wrote no movie"
    else
      "$engine" probe "$stamped" | grep -qF '"timecode":"01:00:00:00"' || fail "$stamped carries no 01:00:00:00"
    fi
  else
    fail "velmora stamp failed"
  fi
fi

# --- lintian -------------------------------------------------------------------
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

[ "$failures" -eq 0 ] || {
  echo "$failures check(s) failed"
  exit 1
}
echo "package checks passed: $(basename "$deb")"
