#!/usr/bin/env bash
# Makes the packages of a build with cpack and checks what each one holds.
# Usage: packages_test.sh SOURCE_DIR BUILD_DIR windows|linux VERSION
set -euo pipefail
source_dir=$1 build=$2 kind=$3 version=$4
out=$build/packages
rm -rf "$out"
cpack --config "$build/CPackConfig.cmake" -B "$out" >/dev/null

failures=0
# expect LISTING FILE...: every file is in the listing.
expect() {
  local listing=$1
  shift
  for file in "$@"; do
    if ! grep -qE "(^|[ /])$file\$" <<<"$listing"; then
      echo "FAIL: $file is missing from $package" >&2
      failures=$((failures + 1))
    fi
  done
  echo "ok: $package"
}
# The only files, apart from folders, are those expected.
expect_count() {
  local count
  count=$(grep -cvE '/$' <<<"$1")
  if [ "$count" -ne "$2" ]; then
    echo "FAIL: $package holds $count files, expected $2:" >&2
    echo "$1" >&2
    failures=$((failures + 1))
  fi
}

if [ "$kind" = windows ]; then
  package=$out/KT5CUfirm-$version-win64.zip
  listing=$(unzip -Z1 "$package")
  expect "$listing" KT5CUfirm.exe kt5cufirm-cli.exe README.txt LICENSE
  expect_count "$listing" 4
  # Unpacked into one folder on a file system that ignores case, no file
  # overwrites another.
  clash=$(sort -f <<<"$listing" | uniq -di)
  if [ -n "$clash" ]; then
    echo "FAIL: $package holds names that differ only in case: $clash" >&2
    failures=$((failures + 1))
  fi
  # The README is for Notepad: every line ends with CR LF.
  if unzip -p "$package" "*/README.txt" | grep -qv $'\r$' || ! unzip -p "$package" "*/README.txt" | grep -q kt58netcu.hex; then
    echo "FAIL: README.txt in $package has a line without CR LF or does not name the image" >&2
    failures=$((failures + 1))
  fi
else
  files=(bin/kt5cufirm bin/kt58sim bin/kt58mkimage share/doc/kt5cufirm/README.md share/doc/kt5cufirm/copyright
         share/man/man1/kt5cufirm.1.gz share/man/man1/kt58sim.1.gz share/man/man1/kt58mkimage.1.gz
         share/bash-completion/completions/kt5cufirm share/zsh/vendor-completions/_kt5cufirm)

  package=$out/KT5CUfirm-$version-Linux-$(uname -m).tar.gz
  listing=$(tar -tzf "$package")
  expect "$listing" "${files[@]}"
  expect_count "$listing" ${#files[@]}

  package=$(ls "$out"/kt5cufirm_${version}_*.deb)
  listing=$(dpkg-deb -c "$package" | awk '{print $NF}')
  expect "$listing" "${files[@]/#/usr/}"
  expect_count "$listing" ${#files[@]}
  if [ "$(dpkg-deb -f "$package" Package Version | tr '\n' ' ')" != "Package: kt5cufirm Version: $version " ]; then
    echo "FAIL: $package: $(dpkg-deb -f "$package" Package Version)" >&2
    failures=$((failures + 1))
  fi
  # The programs in the package run.
  dir=$(mktemp -d)
  trap 'rm -rf "$dir"' EXIT
  dpkg-deb -x "$package" "$dir"
  "$dir/usr/bin/kt5cufirm" --version >/dev/null || { echo "FAIL: kt5cufirm from $package" >&2; failures=$((failures + 1)); }
  "$dir/usr/bin/kt58sim" --help >/dev/null || { echo "FAIL: kt58sim from $package" >&2; failures=$((failures + 1)); }
  # The man pages read; the bash completion completes a typed option's start.
  for page in kt5cufirm kt58sim kt58mkimage; do
    gzip -dc "$dir/usr/share/man/man1/$page.1.gz" | grep -q "^\.SH NAME" ||
      { echo "FAIL: the man page of $page in $package" >&2; failures=$((failures + 1)); }
  done
  completed=$(bash -c 'source "$1"; COMP_WORDS=(kt5cufirm --verb); COMP_CWORD=1; _kt5cufirm; echo "${COMPREPLY[*]}"' \
              _ "$dir/usr/share/bash-completion/completions/kt5cufirm")
  [ "$completed" = --verbose ] || { echo "FAIL: the bash completion of --verb: '$completed'" >&2; failures=$((failures + 1)); }
  # No image comes with the programs: without --image the console finds none and says how to name one.
  status=0
  said=$(LC_ALL=C "$dir/usr/bin/kt5cufirm" --check 2>&1) || status=$?
  if [ "$status" -ne 1 ] || ! grep -q -- '--image PATH' <<<"$said"; then
    echo "FAIL: kt5cufirm from $package without --image (status $status): $said" >&2
    failures=$((failures + 1))
  fi
  LC_ALL=C "$dir/usr/bin/kt5cufirm" --check --image "$source_dir/sim/sample-firmware.hex" >/dev/null ||
    { echo "FAIL: kt5cufirm from $package does not check the sample" >&2; failures=$((failures + 1)); }
fi
exit $((failures != 0))
