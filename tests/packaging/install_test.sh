#!/usr/bin/env bash
# Installation and packaging of a built tree: `cmake --install` into a temporary prefix lays down
# the programs, the unit and the logrotate rule; `cpack -G DEB` makes a package that holds them
# and declares its dependencies; the unit passes `systemd-analyze verify` where that exists.
#   install_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_file() { [ -f "$1" ] || fail "missing $1"; }

programs=(NuvoClientDaemon NuvoClient NuvoDemoData)
[ -x "$build/NuvoClientServer" ] && programs+=(NuvoClientServer)

# ---- cmake --install into a temporary prefix ----
prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >"$work/install.log"
for p in "${programs[@]}"; do
  [ -x "$prefix/bin/$p" ] || fail "cmake --install did not lay down an executable bin/$p"
done
unit="$prefix/lib/systemd/system/nuvo-resource.service"
rule="$prefix/etc/logrotate.d/nuvo-resource"
expect_file "$unit"
expect_file "$rule"
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
if command -v dpkg-deb >/dev/null && command -v dpkg-shlibdeps >/dev/null; then
  (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/deb" >"$work/cpack.log" 2>&1) ||
    fail "cpack -G DEB failed: $(tail -n 20 "$work/cpack.log")"
  deb=$(ls "$work"/deb/*.deb 2>/dev/null | head -n 1 || true)
  if [ -z "$deb" ]; then
    fail "cpack made no .deb"
  else
    contents=$(dpkg-deb -c "$deb")
    for path in "${programs[@]/#/./usr/bin/}" ./usr/lib/systemd/system/nuvo-resource.service ./etc/logrotate.d/nuvo-resource; do
      grep -q " $path\$" <<<"$contents" || fail "the package does not hold $path"
    done
    grep -q "ExecStart=/usr/bin/NuvoClientDaemon" <(dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ./usr/lib/systemd/system/nuvo-resource.service) ||
      fail "the packaged unit does not start /usr/bin/NuvoClientDaemon"
    depends=$(dpkg-deb -f "$deb" Depends)
    for lib in libc6 libssl3 zlib1g libdeflate0 adduser; do
      grep -q "$lib" <<<"$depends" || fail "Depends does not list $lib: $depends"
    done
    dpkg-deb -I "$deb" postinst >/dev/null 2>&1 || fail "the package has no postinst"
    [ "$(dpkg-deb -I "$deb" conffiles)" = /etc/logrotate.d/nuvo-resource ] || fail "the logrotate rule is not a conffile"
  fi
else
  echo "SKIP cpack -G DEB: dpkg-deb or dpkg-shlibdeps is not installed (package dpkg-dev)"
fi

[ "$failures" -eq 0 ] && echo "packaging: all checks passed"
exit $((failures > 0))
