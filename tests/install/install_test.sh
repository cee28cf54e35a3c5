#!/usr/bin/env bash
# cmake --install into a temporary prefix: the FHS layout is there and the
# installed programs run. With "deb", also builds the Debian package and
# checks that its dependencies name the libraries the programs link against.
set -euo pipefail
build=$1
mode=${2:-install}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ "$mode" = install ]; then
  cmake --install "$build" --prefix "$work/usr" >/dev/null
  for f in bin/quorpack bin/qvrc share/doc/quorpack/language.md share/doc/quorpack/README.md \
           share/man/man1/quorpack.1 share/man/man1/qvrc.1 \
           share/quorpack/examples/Quorvant.boot share/quorpack/examples/Script/count.qvr \
           share/quorpack/editors/vim/syntax/quorvant.vim \
           share/quorpack/editors/textmate/quorvant.tmLanguage.json \
           share/vim/vimfiles/syntax/quorvant.vim; do
    [ -e "$work/usr/$f" ] || { echo "missing: $f"; exit 1; }
  done
  [ -d "$work/usr/share/quorpack/examples/Temp" ] || { echo "missing: examples/Temp"; exit 1; }
  version=$("$work/usr/bin/quorpack" --version)
  [[ "$version" =~ ^quorpack\ [0-9]+\.[0-9]+\.[0-9]+$ ]] || { echo "bad version: $version"; exit 1; }
  [ "$("$work/usr/bin/qvrc" --version)" = "qvrc ${version#quorpack }" ] || { echo "qvrc version"; exit 1; }
  grep -q '^\.TH QUORPACK 1 .*QuorPack '"${version#quorpack }" "$work/usr/share/man/man1/quorpack.1" \
    || { echo "man page without the version"; exit 1; }
  # The installed example home checks clean of errors.
  "$work/usr/bin/qvrc" --check "$work/usr/share/quorpack/examples" >/dev/null
  echo "installed: $version"
else
  (cd "$build" && cpack -G DEB -B "$work/package" >/dev/null)
  deb=$(ls "$work"/package/quorpack_*.deb)
  depends=$(dpkg-deb -f "$deb" Depends)
  echo "Depends: $depends"
  # Duktape is compiled in (with its time-out check), so it is no dependency.
  for lib in libc6 libssl3 libmariadb3 libodbc libglib2.0 libffi; do
    [[ "$depends" == *"$lib"* ]] || { echo "Depends lacks $lib"; exit 1; }
  done
  dpkg-deb -c "$deb" > "$work/contents"
  for f in ./usr/bin/quorpack ./usr/bin/qvrc ./usr/share/doc/quorpack/language.md ./usr/share/man/man1/qvrc.1; do
    grep -q " $f\$" "$work/contents" || { echo "not in the package: $f"; exit 1; }
  done
fi
