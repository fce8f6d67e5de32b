#!/bin/sh
# Installs the build into a scratch DESTDIR and runs the installed binary on
# the example, and sources the installed completion; then builds the .deb and
# checks its files and control fields.
# Usage: package_test.sh BUILD_DIR SOURCE_DIR VERSION
set -eu
build=$1 src=$2 version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

DESTDIR="$work/root" cmake --install "$build" --prefix /usr >/dev/null
test -f "$work/root/usr/share/man/man1/ppdedit.1.gz"
got=$("$work/root/usr/bin/ppdedit" "$src/examples/quillmark-q300.ppd" "$work/out.ppd" \
	"$src/examples/add-duplex.txt" Two-Sided None)
[ "$got" = "Output : $work/out.ppd" ] || { echo "installed binary printed: $got"; exit 1; }
grep -q '^\*OpenUI \*Duplex/Two-Sided: PickOne' "$work/out.ppd"
test -f "$work/root/usr/share/man/man1/ppdedit-inplace.1.gz"
got=$("$work/root/usr/bin/ppdedit-inplace" "$src/examples/add-duplex.txt" Two-Sided None -- "$work/out.ppd")
[ "$got" = "unchanged: $work/out.ppd (the marker is there)" ] || { echo "installed ppdedit-inplace printed: $got"; exit 1; }
completions=$work/root/usr/share/bash-completion/completions
got=$(bash -c ". '$completions/ppdedit-inplace' && complete -p ppdedit ppdedit-inplace")
[ "$got" = "complete -F _ppdedit ppdedit
complete -F _ppdedit_inplace ppdedit-inplace" ] || { echo "installed completion registers: $got"; exit 1; }

if ! command -v dpkg-shlibdeps >/dev/null; then
	echo "dpkg-shlibdeps is missing (Debian package dpkg-dev)"
	[ -n "${CI:-}" ] && exit 1
	exit 77
fi
(cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" >/dev/null)
deb=$(ls "$work"/ppdedit_"$version"_*.deb)
files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
want=$(sort <<'END'
./usr/bin/ppdedit
./usr/bin/ppdedit-inplace
./usr/share/bash-completion/completions/ppdedit
./usr/share/bash-completion/completions/ppdedit-inplace
./usr/share/doc/ppdedit/README.md.gz
./usr/share/doc/ppdedit/changelog.gz
./usr/share/doc/ppdedit/copyright
./usr/share/doc/ppdedit/examples/add-duplex.txt
./usr/share/doc/ppdedit/examples/quillmark-q300.ppd
./usr/share/doc/ppdedit/examples/replace-defaults.txt
./usr/share/man/man1/ppdedit-inplace.1.gz
./usr/share/man/man1/ppdedit.1.gz
END
)
[ "$files" = "$want" ] || { echo "package files:"; echo "$files"; exit 1; }
info=$(dpkg-deb --info "$deb")
for field in "Package: ppdedit$" "Version: $version$" "Section: utils$" \
	"Maintainer: ppdedit maintainers <" "Depends: .*libc6 \(>= " "Depends: .*zlib1g" \
	"Description: write an edited copy"; do
	echo "$info" | grep -q -E "^ $field" || { echo "control lacks '$field':"; echo "$info"; exit 1; }
done

# Debian's own checker: no error and no warning (informational tags pass).
if command -v lintian >/dev/null; then
	report=$(lintian --allow-root "$deb" 2>&1) || true
	if echo "$report" | grep -E '^[EW]: '; then
		echo "lintian reports the above on $deb"
		exit 1
	fi
	echo "lintian: no error, no warning"
elif [ -n "${CI:-}" ]; then
	echo "lintian is missing (Debian package lintian)"
	exit 1
fi
echo "installed and packaged $deb"
