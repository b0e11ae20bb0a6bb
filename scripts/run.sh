#!/usr/bin/env bash
# Installs what is needed, builds and starts qovra against a local exchange
# server:
#   - two demo users, alice and bob, are made with keytool (key files that
#     need no password);
#   - the exchange server is started for them on 127.0.0.1;
#   - alice sends bob one mail (mail-demo --send-only), so bob has mail to
#     receive;
#   - a settings file for bob is written beside the program
#     (build/release/bin/qovra.xml): the server, bob's key files, his login,
#     automatic receiving every 20 seconds (QOVRA_REFFREQ; 0 turns it off);
#   - qovra starts with its login window. The server stops when qovra ends,
#     and the settings file that was there before comes back.
#
#   scripts/run.sh          the program, as above
#   scripts/run.sh --demo   the window-less demonstrations instead: the
#                           libraries, and one mail sent and received by
#                           mail-demo
#   scripts/run.sh --new-user
#                           the program for carol, a third user whose
#                           certificate the server knows but who has no
#                           account yet: she registers from the login window
set -euo pipefail
cd "$(dirname "$0")/.."

mode=program
case "${1:-}" in
  "") ;;
  --demo) mode=demo ;;
  --new-user) mode=new-user ;;
  *) echo "usage: $0 [--demo | --new-user]" >&2; exit 2 ;;
esac

if [[ $mode != demo && -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" &&
      -z "${QT_QPA_PLATFORM:-}" ]]; then
  cat >&2 <<'MSG'
qovra is a desktop program and no display was found ($DISPLAY and
$WAYLAND_DISPLAY are empty). Run it on a desktop, or under a virtual
display:
    xvfb-run -a scripts/run.sh
(with x11vnc or a screenshot tool to look at it), or choose a Qt platform
yourself, e.g. QT_QPA_PLATFORM=vnc scripts/run.sh. The window-less
demonstration needs no display:
    scripts/run.sh --demo
MSG
  exit 1
fi

# A copy of qovra that runs for this user holds <folder>SENTAVRO-<uid>.lock,
# the folder being $XDG_RUNTIME_DIR when it is the user's own folder that
# nobody else may write, else /tmp/SENTAVRO-<uid>/ (InstanceFolder in
# core/platform/single_instance.h). A new copy would only bring that one to
# the front and end at once.
instance_lock() {
  local uid dir=${XDG_RUNTIME_DIR:-}
  uid=$(id -u)
  while [[ $dir == */ && ${#dir} -gt 1 ]]; do dir=${dir%/}; done
  if [[ $dir == /* && -d $dir && ! -L $dir && -O $dir ]] &&
    (((8#$(stat -c %a "$dir") & 8#022) == 0)); then
    echo "$dir/SENTAVRO-$uid.lock"
  else
    echo "/tmp/SENTAVRO-$uid/SENTAVRO-$uid.lock"
  fi
}
# The process id of the running copy; nothing when none runs.
running_copy() {
  local lock
  lock=$(instance_lock)
  [[ -e $lock ]] || return 0
  lslocks --noheadings --raw --output PID,PATH 2>/dev/null |
    awk -v lock="$lock" '$2 == lock { print $1; exit }'
}
# Says that a copy runs (process $1) and what this run did ($2).
say_running() {
  cat >&2 <<MSG
qovra already runs for this user (process $1); a second copy only brings
its window to the front. $2
Close that copy first to start a new demo.
MSG
}
if [[ $mode != demo ]]; then
  copy=$(running_copy)
  if [[ -n $copy ]]; then
    say_running "$copy" "This run made no demo and left the demo data and
the settings beside the program as they were."
    exit 0
  fi
fi

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
bin=build/release/bin
domain=tests/fixtures/keys/domain.dom

if [[ $mode == demo ]]; then
  "$bin/keytool" demo "$domain"
  echo
  echo "== mail demo"
fi

demo=$(mktemp -d "${TMPDIR:-/tmp}/qovra-run-XXXXXX")
server_pid=
stop_server() {
  if [[ -n "$server_pid" ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
  fi
}
# The demo's settings beside the program live as long as the demo: the
# file that was there before comes back at the end.
settings_written=
saved_settings=
restore_settings() {
  [[ -n "$settings_written" ]] || return 0
  if [[ -n "$saved_settings" ]]; then
    cp -p "$saved_settings" "$settings"
  else
    rm -f "$settings"
  fi
}
trap 'stop_server; restore_settings; rm -rf "$demo"' EXIT

"$bin/keytool" authority --domain "$domain" --name "Qovra Demo Authority" --out "$demo/ca" \
  >/dev/null
"$bin/keytool" server --domain "$domain" --authority "$demo/ca" --name "Qovra Demo Server" \
  --out "$demo/server" >/dev/null
mkdir -p "$demo/registry" "$demo/data" "$demo/mail" "$demo/data/client"
# The server's contacts directory (Contacts book > Server directory).
for code in uzc ru; do
  printf '%s' '<?xml version="1.0" encoding="UTF-8" ?><addressbook><group name="Qovra Demo">' \
    '<contact firstname="Alice" lastname="Demo" email="alice@127.0.0.1"/>' \
    '<contact firstname="Bob" lastname="Demo" email="bob@127.0.0.1"/>' \
    '<contact firstname="Carol" lastname="Demo" email="carol@127.0.0.1"/>' \
    '</group></addressbook>' >"$demo/data/client/contacts_$code.ecx"
done
for user in alice bob carol; do
  "$bin/keytool" user --domain "$domain" --authority "$demo/ca" --name "$user@127.0.0.1" \
    --out "$demo/$user" >/dev/null
  "$bin/keytool" register --registry "$demo/registry" --authority "$demo/ca" \
    --address "$user@127.0.0.1" --cert "$demo/$user.cer" >/dev/null
done

"$bin/exchange-server" --port 0 --data "$demo/data" --registry "$demo/registry" \
  --authority "$demo/ca/authority.cer" --server-cert "$demo/server/server.cer" \
  --server-key "$demo/server/server.prk" \
  --seed-account "alice@127.0.0.1:alice-demo" --seed-account "bob@127.0.0.1:bob-demo" \
  >"$demo/server.out" 2>"$demo/server.log" &
server_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\).*/\1/p' "$demo/server.out")
  [[ -n "$port" ]] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if [[ -z "$port" ]]; then
  echo "the exchange server did not start:" >&2
  cat "$demo/server.log" >&2
  exit 1
fi
url="http://127.0.0.1:$port"
echo "exchange server listening on 127.0.0.1:$port"

if [[ $mode == demo ]]; then
  "$bin/mail-demo" "$url" \
    alice@127.0.0.1 "$demo/alice.cer" "$demo/alice.prk" alice-demo \
    bob@127.0.0.1 "$demo/bob.cer" "$demo/bob.prk" bob-demo
  exit 0
fi

# A mail for bob to receive.
"$bin/mail-demo" --send-only "$url" \
  alice@127.0.0.1 "$demo/alice.cer" "$demo/alice.prk" alice-demo \
  bob@127.0.0.1 "$demo/bob.cer" "$demo/bob.prk" bob-demo >"$demo/send.log" 2>&1 || {
  cat "$demo/send.log" >&2
  echo "alice's mail to bob could not be sent" >&2
  exit 1
}
echo "alice sent bob a mail"

# The settings beside the program, for bob.
settings="$bin/qovra.xml"
if [[ -f "$settings" ]]; then
  saved_settings="$demo/qovra.xml.saved"
  cp -p "$settings" "$saved_settings"
fi
settings_written=1
reffreq="${QOVRA_REFFREQ:-20}"
if [[ $mode == new-user ]]; then
  "$bin/mail-demo" --write-settings "$settings" "$url" carol@127.0.0.1 \
    "$demo/carol.cer" "$demo/carol.prk" "$demo/mail" "$reffreq" >/dev/null
  cat <<MSG

The server 127.0.0.1:$port knows carol's certificate; she has no account yet.
Choose "Register" in the login window, fill in the form (any login the
server has not given out), then log in with the new login and password.

MSG
else
  "$bin/mail-demo" --write-settings "$settings" "$url" bob@127.0.0.1 \
    "$demo/bob.cer" "$demo/bob.prk" "$demo/mail" "$reffreq" >/dev/null
  cat <<MSG

Demo users of this run (server 127.0.0.1:$port):
    login bob    password bob-demo     (filled in: type the password)
    login alice  password alice-demo   (key files $demo/alice.cer, .prk)
The key files need no password. The server stops when qovra ends.
qovra receives by itself every $reffreq seconds (0: only with F5). For alice
to send bob another mail while qovra runs, in a second terminal:
    $bin/mail-demo --send-only $url \\
      alice@127.0.0.1 $demo/alice.cer $demo/alice.prk alice-demo \\
      bob@127.0.0.1 $demo/bob.cer $demo/bob.prk bob-demo

MSG
fi
set +e
"$bin/qovra"
status=$?
set -e
stop_server
# A copy started meanwhile: the new one handed over to it and ended at once.
copy=$(running_copy)
if [[ $status == 0 && -n $copy ]]; then
  say_running "$copy" "The demo of this run ends; the settings beside the
program are put back as they were."
fi
exit $status
