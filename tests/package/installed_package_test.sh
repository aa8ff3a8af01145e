#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds the consumer in examples/library against it: with
# find_package on the shared and on the static library, and with pkg-config; then runs each program.
# Arguments: the build folder, the source folder, the libdir below the prefix, the C++ compiler, the CMake
# generator and its make program, and the extra compiler and linker flags (the sanitizers) or "".
set -euo pipefail
build=$1 source=$2 libdir=$3 cxx=$4 generator=$5 make_program=$6 flags=$7
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/odefit "$libdir/libodefit.a" "$libdir/cmake/odefit/odefitConfig.cmake" \
            "$libdir/cmake/odefit/odefitConfigVersion.cmake" "$libdir/pkgconfig/odefit.pc" \
            include/odefit/odefit.h include/odefit/version.h; do
  [ -e "$prefix/$file" ] || { echo "not installed: $file"; exit 1; }
done
# The installed program finds its own libraries (the BLAS thread setting, the desktop module) by its run path.
for file in libodefit_blas_threads.so libodefit-desktop.so; do
  [ -e "$prefix/$libdir/odefit/$file" ] || { echo "not installed: $libdir/odefit/$file"; exit 1; }
done
env -u OPENBLAS_NUM_THREADS -u GOTO_NUM_THREADS -u OMP_NUM_THREADS "$prefix/bin/odefit" --version | grep -q ', 1 thread$' || { echo "the installed program does not start"; exit 1; }

# The toolchain links with --as-needed and the consumer may not call the library yet; without it the
# shared variants would not show whether the installed libodefit.so is found at run time.
link_all="-Wl,--no-as-needed"

# needs <program> <yes|no>: whether the program loads libodefit.so at run time.
needs() {
  if readelf -d "$1" | grep -q 'NEEDED.*libodefit\.so'; then found=yes; else found=no; fi
  [ "$found" = "$2" ] || { echo "$1: libodefit.so needed: $found, expected $2"; exit 1; }
}

for library in odefit::odefit odefit::odefit_static; do
  dir="$work/${library#odefit::}"
  echo "== find_package(odefit), $library"
  cmake -S "$source/examples/library" -B "$dir" -G "$generator" -DCMAKE_MAKE_PROGRAM="$make_program" \
    -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release -DCMAKE_PREFIX_PATH="$prefix" \
    -DCMAKE_CXX_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$link_all" -DODEFIT_LIBRARY="$library" >/dev/null
  cmake --build "$dir" >/dev/null
  "$dir/fit_lorenz" "$source/examples/lorenz.txt" | grep -q "^dx1/dt = -0.071452 - 9.8825 x1 + 9.922 x2 "
done
needs "$work/odefit/fit_lorenz" yes
needs "$work/odefit_static/fit_lorenz" no

export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
echo "== pkg-config, shared"
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++20 $flags "$source/examples/library/main.cpp" -o "$work/pc_shared" $link_all \
  $(pkg-config --cflags --libs odefit) -Wl,-rpath,"$prefix/$libdir"
"$work/pc_shared" "$source/examples/lorenz.txt" >/dev/null
needs "$work/pc_shared" yes
echo "== pkg-config, static"
# shellcheck disable=SC2046,SC2086
"$cxx" -std=c++20 $flags "$source/examples/library/main.cpp" -o "$work/pc_static" $link_all \
  $(pkg-config --cflags odefit) $(pkg-config --static --libs odefit | sed 's/-lodefit\b/-l:libodefit.a/')
"$work/pc_static" "$source/examples/lorenz.txt" >/dev/null
needs "$work/pc_static" no
