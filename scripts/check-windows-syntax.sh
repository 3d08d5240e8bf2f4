#!/usr/bin/env bash
# Compiles every source file of the program (not the tests) as the Windows build sees it, syntax
# only: MinGW-w64's g++ with -fsyntax-only against this machine's Qt headers, with the project's
# own compile definitions and the forms' headers that uic generated in the build. Fails on any
# error. Qt's headers pick the platform from the compiler's own macros (_WIN32), so Q_OS_WIN
# holds and Q_OS_LINUX does not; see README.md for what this proves and what it does not.
#
#   scripts/check-windows-syntax.sh [build-dir]   (default: build, configured by scripts/build.sh)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
cxx=${NORVA_MINGW_CXX:-x86_64-w64-mingw32-g++-posix}
command -v "$cxx" >/dev/null ||
  { echo "$cxx is missing (Debian: g++-mingw-w64-x86-64-posix)" >&2; exit 1; }
[[ -f $build/compile_commands.json ]] ||
  { echo "$build is not configured (run scripts/build.sh)" >&2; exit 1; }

# The forms' headers first.
cmake --build "$build" --target norvacore_autogen >/dev/null

# The library's definitions and Qt include directories as CMake gave them, minus what only the
# X11 build has; the Windows mkspec instead of the Linux one.
mapfile -d '' flags < <(python3 - "$build/compile_commands.json" "$root" <<'PY'
import json, shlex, sys
commands, root = sys.argv[1], sys.argv[2]
entry = next(e for e in json.load(open(commands))
             if e["file"].startswith(root + "/platform/") and "norvacore" in e.get("output", e["command"]))
args = shlex.split(entry["command"])
out = []
for i, a in enumerate(args):
    if a.startswith("-D") and "X11EXTRAS" not in a:
        out.append(a)
    elif a.startswith("-I"):
        out.append(a)
    elif a == "-isystem":
        path = args[i + 1]
        if "X11Extras" in path:
            continue
        out += ["-isystem", path.replace("/mkspecs/linux-g++", "/mkspecs/win32-g++")]
sys.stdout.write("\0".join(out) + "\0")
PY
)
[[ ${#flags[@]} -gt 0 ]] || { echo "no compile command for the library in $build" >&2; exit 1; }
flags+=(-std=c++17 -fsyntax-only -DUNICODE -D_UNICODE -Wall -Wextra)

log=$(mktemp -d "${TMPDIR:-/tmp}/norva-winsyntax-XXXXXX")
trap 'rm -rf "$log"' EXIT
# QtKeychain's and OpenSSL's headers sit in /usr/include, which MinGW must not search as a whole
# (glibc's headers are there): only their own folders are offered, the architecture's OpenSSL
# configuration headers after the common ones.
mkdir -p "$log/include" "$log/arch"
for dir in qt5keychain openssl; do
  [[ -d /usr/include/$dir ]] && ln -s "/usr/include/$dir" "$log/include/$dir"
done
arch=$(gcc -print-multiarch 2>/dev/null || true)
[[ -n $arch && -d /usr/include/$arch/openssl ]] && ln -s "/usr/include/$arch/openssl" "$log/arch/openssl"
flags+=(-isystem "$log/include" -isystem "$log/arch")

mapfile -t sources < <(cd "$root" && ls app/*.cpp mainwindow/*.cpp web/*.cpp bridge/*.cpp \
  notify/*.cpp store/*.cpp update/*.cpp downloads/*.cpp settings/*.cpp platform/*.cpp)

export cxx log root
printf '%s\0' "${flags[@]}" >"$log/flags"
check() {
  mapfile -d '' f <"$log/flags"
  local name=${1//\//_}
  if ! (cd "$root" && "$cxx" "${f[@]}" "$1") >"$log/$name.out" 2>&1; then
    echo "$1" >>"$log/failed"
  fi
  cat "$log/$name.out"
}
export -f check
printf '%s\0' "${sources[@]}" | xargs -0 -n1 -P"${NORVA_WINDOWS_SYNTAX_JOBS:-2}" bash -c 'check "$0"'

if [[ -s $log/failed ]]; then
  echo "windows syntax: $(wc -l <"$log/failed") of ${#sources[@]} files fail:" >&2
  sed 's/^/  /' "$log/failed" >&2
  exit 1
fi
echo "windows syntax: ${#sources[@]} files ok"
