# The Windows zip and installer from a Windows build, and their checks: the zip's entries,
# then a silent install and uninstall under Wine in a fresh prefix. Sourced by scripts/package.

# What is shipped, relative to the build folder: the three programs, nothing else built.
WINDOWS_PROGRAMS=(app/ostrevane.exe tools/cli/ostrevane-cli.exe tools/smdtool/smdtool.exe)
# Beside them, from this folder: the README and the driver (as "folder/name" in the package),
# and the driver's signed catalog when OSTREVANE_DRIVER_CATALOG names one (made by inf2cat
# from the INF this package ships, then signed: see README.txt).
WINDOWS_DOCS=(README.txt driver/ostrevane_winusb.inf)
if [ -n "${OSTREVANE_DRIVER_CATALOG:-}" ]; then WINDOWS_DOCS+=(driver/ostrevane_winusb.cat); fi
WINDOWS_DIR="$ROOT/packaging/windows"
# Where the check installs; a space in it, as C:\Program Files has.
CHECK_TARGET='C:\Line Tools\Ostrevane'
UNINSTALL_KEY='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Ostrevane'

fail() {
  echo "scripts/package windows: $*" >&2
  exit 1
}

# package_windows [BUILD]: BUILD is a Windows build folder to take the programs from as
# they are; without it, build-windows is built (or brought up to date) first.
package_windows() {
  local t0=$SECONDS build version
  install_deps "${WINDOWS_PACKAGES[@]}"
  if [ -n "${1:-}" ]; then
    [ -d "$1" ] || fail "no build folder $1"
    build="$(cd "$1" && pwd)"
  else
    build="$ROOT/build-windows"
    windows_build "$build"
  fi
  local p
  for p in "${WINDOWS_PROGRAMS[@]}"; do
    [ -f "$build/$p" ] || fail "$build/$p is missing: the Windows build did not make it"
  done
  version=$(sed -n 's/^project(Ostrevane VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
  [ -n "$version" ] || fail "no project version in CMakeLists.txt"
  check_driver_inf "$version"

  local dist="$build/dist" name="ostrevane-$version-windows-x64"
  rm -rf "$dist"
  mkdir -p "$dist"
  stage_windows "$build" "$dist/stage/$name"
  expected_files | sort >"$dist/expected.txt"

  local zip="$dist/$name.zip"
  (cd "$dist/stage" && zip -q -X -r "$zip" "$name")
  check_zip "$zip" "$name" "$dist"

  local setup="$dist/ostrevane-$version-setup.exe"
  write_nsis_files "$dist/stage/$name" "$dist/expected.txt" "$dist/files.nsh"
  if ! makensis -V2 -WX -DVERSION="$version" -DFILES="$dist/files.nsh" -DOUTFILE="$setup" \
      "$WINDOWS_DIR/ostrevane.nsi" >"$dist/makensis.log" 2>&1; then
    cat "$dist/makensis.log" >&2
    fail "makensis could not make the installer"
  fi
  echo "installer: $setup"
  check_installer "$setup" "$dist"
  wineserver -k 2>/dev/null || true
  rm -rf "$dist/stage" "$dist/wineprefix"
  echo "package windows took $(( SECONDS - t0 )) s"
}

# The files of the package, as paths inside its folder.
expected_files() {
  local p
  for p in "${WINDOWS_PROGRAMS[@]}"; do echo "${p##*/}"; done
  printf '%s\n' "${WINDOWS_DOCS[@]}"
}

# The INF must name the identities and interface classes the station itself uses, and
# carry the project's version.
check_driver_inf() {
  local inf="$WINDOWS_DIR/ostrevane_winusb.inf" kinds="$ROOT/src/usb/device_kind.h" name value
  for name in KIND0_HARDWARE_ID KIND1_HARDWARE_ID KIND0_INTERFACE_CLASS KIND1_INTERFACE_CLASS; do
    value=$(sed -n "s/.* $name = \"\(.*\)\";/\1/p" "$kinds" | sed 's/\\\\/\\/g')
    [ -n "$value" ] || fail "$name not found in $kinds"
    case "$name" in
      *HARDWARE_ID) grep -qiE "^%[A-Za-z.]+% *= *[A-Za-z_]+, *${value//\\/\\\\}\$" "$inf" \
                      || fail "the driver INF binds no device to $value ($name)" ;;
      *) grep -qiF "DeviceInterfaceGUIDs,%REG_MULTI_SZ%,\"$value\"" "$inf" \
           || fail "the driver INF registers no interface class $value ($name)" ;;
    esac
  done
  grep -qE "^DriverVer *= *[0-9/]+, *$1\.0\$" "$inf" \
    || fail "the driver INF's DriverVer is not version $1.0"
}

# The package's folder: the programs without their debug information (a tenth of the
# size; the Debian package strips its programs too), the texts with Windows line ends.
stage_windows() {
  local build="$1" stage="$2" p
  mkdir -p "$stage/driver"
  for p in "${WINDOWS_PROGRAMS[@]}"; do
    x86_64-w64-mingw32-strip -o "$stage/${p##*/}" "$build/$p" || fail "could not strip $build/$p"
  done
  sed 's/\r*$/\r/' "$WINDOWS_DIR/README.txt" >"$stage/README.txt"
  sed 's/\r*$/\r/' "$WINDOWS_DIR/ostrevane_winusb.inf" >"$stage/driver/ostrevane_winusb.inf"
  if [ -n "${OSTREVANE_DRIVER_CATALOG:-}" ]; then
    [ -f "$OSTREVANE_DRIVER_CATALOG" ] || fail "no catalog $OSTREVANE_DRIVER_CATALOG (OSTREVANE_DRIVER_CATALOG)"
    cp "$OSTREVANE_DRIVER_CATALOG" "$stage/driver/ostrevane_winusb.cat"
  fi
}

check_zip() {
  local zip="$1" name="$2" dist="$3"
  unzip -tqq "$zip" || fail "the zip $zip does not test whole"
  unzip -Z1 "$zip" >"$dist/zip-entries.txt" || fail "the entries of $zip cannot be listed"
  { grep -v '/$' "$dist/zip-entries.txt" || true; } | sed "s|^$name/||" | sort >"$dist/zip-files.txt"
  if ! diff -u "$dist/expected.txt" "$dist/zip-files.txt"; then
    fail "the zip's entries differ from the package's files (- missing, + unexpected)"
  fi
  if grep -qv "^$name/" "$dist/zip-entries.txt"; then
    fail "the zip has entries outside its folder $name/"
  fi
  echo "zip: $zip ($(wc -l <"$dist/zip-files.txt") files)"
}

# The installer's File and Delete lines for the files LIST names in the staged folder.
write_nsis_files() {
  local stage="$1" list="$2" out="$3" f dir
  {
    echo "; Written by scripts/package windows."
    echo "!macro InstallFiles"
    while read -r f; do
      dir="${f%/*}"; [ "$dir" = "$f" ] && dir="" || dir="\\${dir//\//\\}"
      echo "  SetOutPath \"\$INSTDIR$dir\""
      echo "  File \"$stage/$f\""
    done <"$list"
    echo "!macroend"
    echo "!macro RemoveFiles"
    while read -r f; do echo "  Delete \"\$INSTDIR\\${f//\//\\}\""; done <"$list"
    echo "!macroend"
    echo "!macro RemoveFolders"
    grep / "$list" | sed 's|/[^/]*$||' | sort -ru | while read -r dir; do
      echo "  RMDir \"\$INSTDIR\\${dir//\//\\}\""
    done
    echo "!macroend"
  } >"$out"
}

# Installs silently into a fresh Wine prefix, checks what is there, uninstalls silently
# and checks that all of it is gone.
check_installer() {
  local setup="$1" dist="$2" rc
  wine_session "$dist"
  local dir="$WINEPREFIX/drive_c/${CHECK_TARGET#C:\\}"
  dir="${dir//\\//}"
  local shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Ostrevane.lnk"

  # /D= goes last and unquoted, as NSIS wants it: split at its spaces, for Wine quotes an
  # argument that holds one when it builds the command line.
  local -a folder
  read -ra folder <<<"/D=$CHECK_TARGET"
  rc=0
  wine "$setup" /S "${folder[@]}" </dev/null >"$dist/install.log" 2>&1 || rc=$?
  [ "$rc" -eq 0 ] || fail "the silent install ended with exit code $rc (log: $dist/install.log)"
  [ -d "$dir" ] || fail "the silent install made no folder $CHECK_TARGET"
  { expected_files; echo uninstall.exe; } | sort >"$dist/expected-installed.txt"
  (cd "$dir" && find . -type f | sed 's|^\./||' | sort) >"$dist/installed.txt"
  if ! diff -u "$dist/expected-installed.txt" "$dist/installed.txt"; then
    fail "the installed files differ from the package's (- missing, + unexpected)"
  fi
  [ -f "$shortcut" ] || fail "no Start-menu entry: $shortcut is missing"
  grep -aqi 'ostrevane\.exe' "$shortcut" || fail "the Start-menu entry does not start ostrevane.exe"
  local location
  location=$({ wine reg query "$UNINSTALL_KEY" /v InstallLocation 2>/dev/null </dev/null || true; } \
    | tr -d '\r' | sed -n 's/.*InstallLocation *REG_SZ *//p')
  [ -n "$location" ] || fail "no uninstall entry: $UNINSTALL_KEY has no InstallLocation"
  [ "$location" = "$CHECK_TARGET" ] \
    || fail "the uninstall entry names $location, not the folder /D= chose ($CHECK_TARGET)"
  wine reg query "$UNINSTALL_KEY" /v QuietUninstallString </dev/null 2>/dev/null | grep -q '/S' \
    || fail "the uninstall entry has no QuietUninstallString with /S"
  local p
  for p in ostrevane-cli smdtool; do
    wine "$dir/$p.exe" --version </dev/null >/dev/null 2>&1 || fail "the installed $p.exe does not run"
  done
  echo "install: $(wc -l <"$dist/installed.txt") files in $CHECK_TARGET, Start-menu entry, uninstall entry"

  # The uninstaller runs from a copy of itself in the temporary folder, so that it can
  # remove its own file; the command returns at once and the copy goes on.
  rc=0
  wine "$dir/uninstall.exe" /S </dev/null >"$dist/uninstall.log" 2>&1 || rc=$?
  [ "$rc" -eq 0 ] || fail "the silent uninstall ended with exit code $rc (log: $dist/uninstall.log)"
  local waited=0
  while [ -e "$dir" ] && [ "$waited" -lt 600 ]; do
    sleep 0.1
    waited=$(( waited + 1 ))
  done
  if [ -e "$dir" ]; then
    find "$dir" >&2
    fail "the silent uninstall left $CHECK_TARGET behind (60 s)"
  fi
  [ ! -e "$shortcut" ] || fail "the silent uninstall left the Start-menu entry"
  if wine reg query "$UNINSTALL_KEY" </dev/null >/dev/null 2>&1; then
    fail "the silent uninstall left its uninstall entry $UNINSTALL_KEY"
  fi
  echo "uninstall: folder, Start-menu entry and uninstall entry gone"
}
