#!/usr/bin/env bash
# scripts/check-layers.sh on small trees: each case writes one including file
# beside a fixed set of headers and expects the check to pass or to name the
# wrong include.
set -u
check="$1"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failed=0

# case name | including file | its include line | expected exit | expected text
cases=(
  "same folder|core/base/a.cpp|#include \"base/records.h\"|0|"
  "lower core folder|core/net/a.cpp|#include \"base/records.h\"|0|"
  "beside the file|core/net/a.cpp|#include \"url.h\"|0|"
  "system header|core/base/a.cpp|#include <string>|0|"
  "library header|core/keys/a.cpp|#include \"tevqa.h\"|0|"
  "higher core folder|core/base/a.cpp|#include \"net/url.h\"|1|core/base includes core/net"
  "mail from store|core/store/a.h|#include \"mail/sending.h\"|1|core/store includes core/mail"
  "Qt in core|core/base/a.cpp|#include <QString>|1|includes Qt"
  "Qt module path in core|core/mail/a.cpp|#include <QtCore/QFile>|1|includes Qt"
  "ui from core|core/mail/a.cpp|#include \"qovra/ui/drawing.h\"|1|core/mail includes ui"
  "workspace from ui|ui/foundation/a.cpp|#include \"qovra/workspace/main_window.h\"|1|ui includes workspace"
  "workspace from account|account/login/a.cpp|#include \"qovra/workspace/main_window.h\"|1|account includes workspace"
  "account from workspace|workspace/mainwindow/a.cpp|#include \"qovra/account/login_window.h\"|0|"
  "core from ui|ui/foundation/a.cpp|#include \"net/url.h\"|0|"
  "Qt in ui|ui/foundation/a.cpp|#include <QWidget>|0|"
)

for row in "${cases[@]}"; do
  IFS='|' read -r name file line want text <<<"$row"
  root="$tmp/tree"
  rm -rf "$root"
  mkdir -p "$root/crypto/include" "$root/core/base" "$root/core/net" "$root/core/mail" "$root/core/store" \
           "$root/core/keys" "$root/ui/foundation/include/qovra/ui" \
           "$root/account/login/include/qovra/account" \
           "$root/workspace/mainwindow/include/qovra/workspace" "$root/app"
  touch "$root/crypto/include/tevqa.h" "$root/core/base/records.h" "$root/core/net/url.h" \
        "$root/core/mail/sending.h" "$root/ui/foundation/include/qovra/ui/drawing.h" \
        "$root/account/login/include/qovra/account/login_window.h" \
        "$root/workspace/mainwindow/include/qovra/workspace/main_window.h" "$root/app/program_main.h"
  mkdir -p "$(dirname "$root/$file")"
  printf '%s\n' "$line" >"$root/$file"
  out=$(bash "$check" "$root" 2>&1)
  got=$?
  if [ "$got" != "$want" ] || { [ -n "$text" ] && ! grep -qF -- "$text" <<<"$out"; }; then
    echo "FAIL: $name: exit $got (want $want), output: $out"
    failed=$((failed + 1))
  fi
done

# The real tree keeps its layers.
if ! out=$(bash "$check"); then
  echo "FAIL: the source tree: $out"
  failed=$((failed + 1))
fi

total=$((${#cases[@]} + 1))
echo "$((total - failed)) passed, $failed failed"
[ "$failed" = 0 ]
