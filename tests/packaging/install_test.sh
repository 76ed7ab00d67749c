#!/usr/bin/env bash
# Installation and packaging of a built tree:
# - `cmake --install` into a temporary prefix lays down the programs, the unit, the logrotate
#   rule, the documents and the manual pages; the unit passes `systemd-analyze verify`;
# - the options of `NuvoClientDaemon --help`, its manual page and the README's table are the same;
# - `cpack -G DEB` makes the server package (no Qt among its dependencies) and the console package,
#   and lintian finds no error in either;
# - as root, the packages are installed, upgraded to a newer version and purged for real (twice:
#   once with an operator's file in the working directory, which purge keeps, once without, which
#   purge removes). Where systemd is not running, each dpkg run gets a private /run that looks as
#   if it were, with systemctl and deb-systemd-invoke replaced by stand-ins that write down what
#   they were asked, so that the restart on upgrade and the stop on removal are seen. A machine
#   where the package, the working directory or a lock of another run is found is left alone.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
installed=""
user_existed=""
cleanup() {
  if [ -n "$installed" ]; then
    dpkg --purge nuvo-resource-console nuvo-resource >/dev/null 2>&1 || true
    rm -rf /var/lib/nuvo
    [ -z "$user_existed" ] && { deluser --quiet --system nuvo >/dev/null 2>&1 || true; delgroup --quiet --system nuvo >/dev/null 2>&1 || true; }
  fi
  rm -rf "$work"
}
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_file() { [ -f "$1" ] || fail "missing $1"; }

programs=(NuvoClientDaemon NuvoClient NuvoDemoData)
console=""
[ -x "$build/NuvoClientServer" ] && console=yes

# ---- cmake --install into a temporary prefix ----
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
for p in "${programs[@]}" ${console:+NuvoClientServer}; do
  [ -x "$prefix/bin/$p" ] || fail "cmake --install did not lay down an executable bin/$p"
  expect_file "$prefix/share/man/man1/$p.1.gz"
done
unit="$prefix/lib/systemd/system/nuvo-resource.service"
rule="$prefix/etc/logrotate.d/nuvo-resource"
doc="$prefix/share/doc/nuvo-resource"
expect_file "$unit"
expect_file "$rule"
for f in copyright changelog.gz README.md.gz scaling.md.gz examples/nuvo-origins.conf examples/nuvo-origins.cfg; do
  expect_file "$doc/$f"
done
[ -n "$console" ] && expect_file "$prefix/share/doc/nuvo-resource-console/copyright"
if [ -f "$doc/changelog.gz" ] && command -v dpkg-parsechangelog >/dev/null; then
  zcat "$doc/changelog.gz" >"$work/changelog"
  version=$(dpkg-parsechangelog -l "$work/changelog" -S Version)
  [ "$version" = "$("$build/NuvoClientDaemon" --version | awk '{print $2}')" ] ||
    fail "the changelog's latest version $version is not the program's (deploy/debian/changelog)"
fi
if [ -f "$unit" ]; then
  grep -qx "ExecStart=$prefix/bin/NuvoClientDaemon" "$unit" || fail "the unit does not start the installed program"
  for line in Type=notify 'ExecReload=/bin/kill -HUP $MAINPID' Restart=on-failure User=nuvo \
              WorkingDirectory=/var/lib/nuvo ProtectSystem=strict ReadWritePaths=/var/lib/nuvo; do
    grep -qxF "$line" "$unit" || fail "the unit lacks the line $line"
  done
fi
if [ -f "$rule" ]; then
  grep -q '^/var/lib/nuvo/Logs/\*\.log ' "$rule" || fail "the logrotate rule does not name the work logs"
  grep -q "^[[:space:]]*copytruncate" "$rule" && fail "the logrotate rule truncates files the server reopens per line"
  if command -v logrotate >/dev/null; then
    # The rule, pointed at a scratch copy of the working directory and this user, rotates a work
    # log by renaming it and leaves creating the next one to the server.
    logs="$work/state-dir/Logs"
    mkdir -p "$logs"
    echo "[2024/7/2 13:45:12] 错误格式：/x" >"$logs/20240702134512.log"
    sed -e "s#/var/lib/nuvo#$work/state-dir#g" -e "s#^\([[:space:]]*su \).*#\1$(id -un) $(id -gn)#" "$rule" >"$work/rule"
    if logrotate -f -s "$work/logrotate.state" "$work/rule" >"$work/logrotate.log" 2>&1; then
      [ -f "$logs/20240702134512.log.1.gz" ] || fail "logrotate did not rotate the work log: $(ls "$logs")"
      [ -e "$logs/20240702134512.log" ] && fail "logrotate created a work log the server should create"
    else
      fail "logrotate does not accept the rule: $(cat "$work/logrotate.log")"
    fi
  else
    echo "SKIP logrotate run: logrotate is not installed"
  fi
fi

# ---- the options: --help, the manual page and the README's table ----
"$build/NuvoClientDaemon" --help | grep -o -- '--[a-z][a-z-]*' | sort -u >"$work/options-help"
sed -n '/^\.SH OPTIONS/,/^\.SH /p' "$source_dir/docs/man/NuvoClientDaemon.1" | sed 's/\\-/-/g' |
  grep '^\.B' | grep -o -- '--[a-z][a-z-]*' | sort -u >"$work/options-man"
grep '^| `--' "$source_dir/README.md" | grep -o -- '^| `--[a-z][a-z-]*' | cut -c4- | sort -u >"$work/options-readme"
[ -s "$work/options-help" ] || fail "NuvoClientDaemon --help names no option"
diff -u "$work/options-help" "$work/options-man" >"$work/options.diff" ||
  fail "the manual page's options differ from --help (- help, + manual page): $(cat "$work/options.diff")"
diff -u "$work/options-help" "$work/options-readme" >"$work/options.diff" ||
  fail "the README's options table differs from --help (- help, + README): $(cat "$work/options.diff")"
if command -v man >/dev/null; then
  # groff's own warnings about the page (bad requests, lines it cannot set).
  LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$source_dir/docs/man/NuvoClientDaemon.1" 2>"$work/man.log" >/dev/null || true
  [ -s "$work/man.log" ] && fail "man warns about the manual page: $(cat "$work/man.log")"
fi

# ---- systemd-analyze verify ----
if command -v systemd-analyze >/dev/null; then
  # The unit's own directives, checked offline; the user need not exist on this machine.
  # It ignores a directive it cannot parse with a warning and still succeeds: warnings fail too.
  if ! systemd-analyze verify --man=no "$unit" >"$work/verify.log" 2>&1 || grep -q nuvo-resource "$work/verify.log"; then
    fail "systemd-analyze verify: $(cat "$work/verify.log")"
  fi
else
  echo "SKIP systemd-analyze verify: systemd-analyze is not installed"
fi

# ---- cpack -G DEB ----
if ! command -v dpkg-deb >/dev/null || ! command -v dpkg-shlibdeps >/dev/null; then
  echo "SKIP cpack -G DEB: dpkg-deb or dpkg-shlibdeps is not installed (package dpkg-dev)"
  [ "$failures" -eq 0 ] && echo "packaging: all checks passed"
  exit $((failures > 0))
fi
# make_debs DIR [VERSION]: both packages in DIR, of the project's version or VERSION.
make_debs() {
  local args=()
  [ -n "${2:-}" ] && args=(-D "CPACK_PACKAGE_VERSION=$2")
  (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$1" "${args[@]}" >"$1.log" 2>&1) ||
    fail "cpack -G DEB failed: $(tail -n 20 "$1.log")"
}
make_debs "$work/deb"
echo "packaging: packages made ($SECONDS s)"
server_deb=$(ls "$work"/deb/nuvo-resource_*.deb 2>/dev/null | head -n 1 || true)
console_deb=$(ls "$work"/deb/nuvo-resource-console_*.deb 2>/dev/null | head -n 1 || true)
[ -n "$server_deb" ] || fail "cpack made no nuvo-resource package: $(ls "$work/deb")"
[ -n "$console" ] && [ -z "$console_deb" ] && fail "cpack made no nuvo-resource-console package: $(ls "$work/deb")"
version=$(dpkg-deb -f "$server_deb" Version)
if [ -n "$server_deb" ]; then
  contents=$(dpkg-deb -c "$server_deb")
  for path in "${programs[@]/#/./usr/bin/}" ./usr/lib/systemd/system/nuvo-resource.service ./etc/logrotate.d/nuvo-resource \
              ./usr/share/doc/nuvo-resource/copyright ./usr/share/doc/nuvo-resource/changelog.gz \
              ./usr/share/doc/nuvo-resource/examples/nuvo-origins.conf ./usr/share/man/man1/NuvoClientDaemon.1.gz; do
    grep -q " $path\$" <<<"$contents" || fail "nuvo-resource does not hold $path"
  done
  grep -q "NuvoClientServer" <<<"$contents" && fail "nuvo-resource holds the console"
  grep -q "ExecStart=/usr/bin/NuvoClientDaemon" <(dpkg-deb --fsys-tarfile "$server_deb" | tar -xOf - ./usr/lib/systemd/system/nuvo-resource.service) ||
    fail "the packaged unit does not start /usr/bin/NuvoClientDaemon"
  depends=$(dpkg-deb -f "$server_deb" Depends)
  for lib in libc6 libssl3 zlib1g libdeflate0 adduser; do
    grep -q "$lib" <<<"$depends" || fail "nuvo-resource: Depends does not list $lib: $depends"
  done
  grep -Eiq 'qt|libgl|libx|font' <<<"$depends $(dpkg-deb -f "$server_deb" Recommends)" &&
    fail "nuvo-resource needs a window system: $depends"
  dpkg-deb -I "$server_deb" postinst >/dev/null 2>&1 || fail "nuvo-resource has no postinst"
  [ "$(dpkg-deb -I "$server_deb" conffiles)" = /etc/logrotate.d/nuvo-resource ] || fail "the logrotate rule is not a conffile"
fi
if [ -n "$console_deb" ]; then
  contents=$(dpkg-deb -c "$console_deb")
  for path in ./usr/bin/NuvoClientServer ./usr/share/doc/nuvo-resource-console/copyright \
              ./usr/share/man/man1/NuvoClientServer.1.gz; do
    grep -q " $path\$" <<<"$contents" || fail "nuvo-resource-console does not hold $path"
  done
  depends=$(dpkg-deb -f "$console_deb" Depends)
  grep -q "nuvo-resource (= $version)" <<<"$depends" || fail "nuvo-resource-console does not need its server package: $depends"
  grep -q "libqt6widgets6" <<<"$depends" || fail "nuvo-resource-console: Depends does not list Qt: $depends"
fi

# ---- lintian ----
if command -v lintian >/dev/null; then
  for deb in $server_deb $console_deb; do
    # Errors fail; warnings are shown (the README lists the ones left on purpose).
    lintian --fail-on error --tag-display-limit 0 "$deb" >"$work/lintian.log" 2>&1 ||
      fail "lintian $(basename "$deb"): $(grep -v '^N:' "$work/lintian.log")"
    grep -q '^W:' "$work/lintian.log" && { echo "lintian $(basename "$deb"), warnings:"; grep '^W:' "$work/lintian.log"; }
  done
  echo "packaging: lintian done ($SECONDS s)"
else
  echo "SKIP lintian: lintian is not installed"
fi

# ---- install, upgrade, purge ----
dpkg_status() { dpkg-query -W -f '${db:Status-Status}' "$1" 2>/dev/null || true; }
reason=""
if [ "$(id -u)" -ne 0 ]; then
  reason="not root"
elif [ -n "$(dpkg_status nuvo-resource)$(dpkg_status nuvo-resource-console)" ] || [ -e /var/lib/nuvo ]; then
  reason="nuvo-resource or /var/lib/nuvo is on this machine already"
elif [ -z "$server_deb" ]; then
  reason="no package"
else
  # One run at a time on a machine.
  exec 9>/tmp/nuvo-packaging-test.lock
  flock -n 9 || reason="another packaging test is installing"
fi
if [ -n "$reason" ]; then
  echo "SKIP install, upgrade and purge: $reason"
  [ "$failures" -eq 0 ] && echo "packaging: all checks passed"
  exit $((failures > 0))
fi

newer="$version+test1"
make_debs "$work/deb-newer" "$newer"
newer_debs=$(ls "$work"/deb-newer/*.deb)
getent passwd nuvo >/dev/null && user_existed=yes

calls="$work/calls.log"
stubs="$work/stubs"
mkdir -p "$stubs"
for tool in systemctl deb-systemd-invoke; do
  printf '#!/bin/sh\necho "%s $*" >>"%s"\nexit 0\n' "$tool" "$calls" >"$stubs/$tool"
  chmod 755 "$stubs/$tool"
done
stand_ins=""
[ -d /run/systemd/system ] || stand_ins=yes
# dpkg_run ARGS...: dpkg, waiting while another dpkg or apt holds the database; without a running
# systemd in a private /run that looks as if one ran, with the stand-ins first in PATH.
dpkg_run() {
  local out
  for _ in $(seq 120); do
    if [ -n "$stand_ins" ]; then
      out=$(PATH="$stubs:$PATH" unshare -m sh -c 'mount -t tmpfs tmpfs /run && mkdir -p /run/systemd/system && exec dpkg "$@"' sh "$@" 2>&1) &&
        { echo "$out"; return 0; }
    else
      out=$(dpkg "$@" 2>&1) && { echo "$out"; return 0; }
    fi
    grep -q "lock" <<<"$out" || { echo "$out"; return 1; }
    sleep 5
  done
  echo "$out"
  return 1
}
# step NAME ARGS...: one dpkg run; its output in $work/NAME.log, the stand-ins' calls in $work/NAME.calls.
step() {
  local name=$1
  shift
  : >"$calls"
  local start=$SECONDS
  dpkg_run "$@" >"$work/$name.log" 2>&1 || fail "dpkg $* failed: $(cat "$work/$name.log")"
  echo "packaging: dpkg $name ($((SECONDS - start)) s)"
  cp "$calls" "$work/$name.calls"
  grep -i "warn" "$work/$name.log" && fail "dpkg $* warned: $(grep -i warn "$work/$name.log")"
  return 0
}
# expect_calls NAME [ACTION...]: the unit was asked for exactly these actions through
# deb-systemd-invoke, in this order, and systemd to read its units again.
expect_calls() {
  local name=$1
  shift
  [ -n "$stand_ins" ] || return 0
  grep -q "^systemctl .*daemon-reload" "$work/$name.calls" || fail "dpkg ($name) did not have systemd read the unit again"
  { grep "^deb-systemd-invoke " "$work/$name.calls" || true; } | diff -u <(printf 'deb-systemd-invoke %s nuvo-resource.service\n' "$@" | grep -v '^deb-systemd-invoke  ') - \
    >"$work/calls.diff" || fail "dpkg ($name) asked for other actions on the unit (- wanted, + asked): $(cat "$work/calls.diff")"
}

echo "packaging: newer packages made ($SECONDS s)"
installed=yes
step install -i $server_deb $console_deb
expect_calls install
[ "$(dpkg_status nuvo-resource)" = installed ] || fail "nuvo-resource is not installed: $(cat "$work/install.log")"
uid=$(getent passwd nuvo | cut -d: -f3)
[ -n "$uid" ] && [ "$uid" -lt 1000 ] || fail "no system user nuvo: $(getent passwd nuvo)"
[ "$(stat -c '%U %a' /var/lib/nuvo 2>/dev/null)" = "nuvo 750" ] || fail "/var/lib/nuvo: $(stat -c '%U %a' /var/lib/nuvo 2>&1)"
[ -d /var/lib/nuvo/Logs ] || fail "no /var/lib/nuvo/Logs"
/usr/bin/NuvoClientDaemon --version | grep -qx "NuvoClientDaemon $version" || fail "the installed program is not of $version"
# What a server writes there by itself.
printf 'x\n' >/var/lib/nuvo/Logs/20240702134512.log
printf 'x\n' >/var/lib/nuvo/GameImageDaebug.txt
: >/var/lib/nuvo/BlockIPList.txt
chown -R nuvo:nuvo /var/lib/nuvo

# Upgrade: the running service (if any) is restarted once, with the new program.
step upgrade -i $newer_debs
expect_calls upgrade try-restart
[ "$(dpkg-query -W -f '${Version}' nuvo-resource)" = "$newer" ] || fail "the upgrade did not install $newer"
[ -f /var/lib/nuvo/Logs/20240702134512.log ] || fail "the upgrade lost a work log"

# Purge with the operator's settings in the working directory: kept, and said so.
printf '[Setup]\r\nPort=8800\r\n' >/var/lib/nuvo/Config.ini
step purge --purge ${console_deb:+nuvo-resource-console} nuvo-resource
expect_calls purge stop
[ -z "$(dpkg_status nuvo-resource)" ] || fail "nuvo-resource is still known to dpkg: $(dpkg_status nuvo-resource)"
[ -f /var/lib/nuvo/Config.ini ] || fail "purge removed the operator's Config.ini"
grep -q "kept /var/lib/nuvo" "$work/purge.log" && grep -qx "  Config.ini" "$work/purge.log" ||
  fail "purge did not say what it kept: $(cat "$work/purge.log")"
grep -q "20240702134512" "$work/purge.log" && fail "purge named a file of the server's as the operator's: $(cat "$work/purge.log")"
ls /var/lib/systemd/deb-systemd-helper-*/ 2>/dev/null | grep -q nuvo-resource && fail "purge left the unit's state: $(ls -R /var/lib/systemd/deb-systemd-helper-*)"
[ -e /etc/systemd/system/nuvo-resource.service ] && fail "purge left the unit masked"

# Again, without anything of the operator's: purge removes the working directory.
rm -rf /var/lib/nuvo
step reinstall -i "$server_deb"
printf 'x\n' >/var/lib/nuvo/Logs/20240702134512.log
step purge-empty --purge nuvo-resource
[ -e /var/lib/nuvo ] && fail "purge kept /var/lib/nuvo with only the server's files: $(ls -R /var/lib/nuvo)"
grep -q "kept" "$work/purge-empty.log" && fail "purge said it kept something: $(cat "$work/purge-empty.log")"

[ "$failures" -eq 0 ] && echo "packaging: all checks passed (installed, upgraded from $version to $newer, purged; $SECONDS s)"
exit $((failures > 0))
