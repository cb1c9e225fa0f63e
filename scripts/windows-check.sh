#!/usr/bin/env bash
# Compiles every file of the program and the Qt-free headers of the runtime with the
# MinGW-w64 cross compiler (syntax and semantics only), so that a Windows break shows up
# on a Linux machine. The runtime's Qt code and the tools, but for zelkctl's Qt-free files
# and the runtime's plain C++ files, are not checked here: they need Qt for Windows.
set -euo pipefail
cd "$(dirname "$0")/.."

compiler=x86_64-w64-mingw32-g++-posix
if ! command -v "$compiler" >/dev/null 2>&1; then
    compiler=x86_64-w64-mingw32-g++
fi
# The version comes from CMake in a real build.
flags=(-std=c++20 -fsyntax-only -Wall -Wextra -Wpedantic -Werror -I. -DZELK_VERSION=\"check\")

failed=0
check() {  # description, then the compiler's input on stdin
    if ! "$compiler" "${flags[@]}" -x c++ - 2>&1; then
        echo "windows-check: $1 does not compile for Windows" >&2
        failed=1
    fi
}

count=0
for file in $(git ls-files 'core/*.cpp' 'window/*.cpp'); do
    check "$file" < "$file"
    count=$((count + 1))
done
# zelkctl's plain C++ files: the setting-file reader, the ID counter, the log, their lock.
for file in tools/zelkctl/setting_file.cpp tools/zelkctl/id_counter.cpp \
    tools/zelkctl/log_file.cpp tools/zelkctl/file_lock.cpp; do
    check "$file" < "$file"
    count=$((count + 1))
done
# The runtime's files in plain C++: the network port names and the Telnet session.
for file in runtime/serial/network_names.cpp runtime/serial/telnet.cpp; do
    check "$file" < "$file"
    count=$((count + 1))
done
for header in $(git ls-files 'runtime/*.h' | grep -v 'internal\|_qt\.h'); do
    echo "#include \"$header\"" | check "$header"
    count=$((count + 1))
done
[ $failed -eq 0 ] && echo "windows-check: $count files compile with $compiler"
exit $failed
