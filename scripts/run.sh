#!/usr/bin/env bash
# Installs what is needed, builds and starts qovra. Until the program's
# windows exist this runs the library demonstration (two key pairs of the
# committed demo domain, a signature and its check, a key agreement) and
# the mail demonstration: two demo users made with keytool, the exchange
# server started for them on 127.0.0.1, one mail sent and received with
# mail-demo, and the server stopped again.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release
bin=build/release/bin
domain=tests/fixtures/keys/domain.dom
"$bin/keytool" demo "$domain"

echo
echo "== mail demo"
demo=$(mktemp -d "${TMPDIR:-/tmp}/qovra-run-XXXXXX")
server_pid=
stop_server() {
  if [[ -n "$server_pid" ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
    server_pid=
  fi
}
trap 'stop_server; rm -rf "$demo"' EXIT

"$bin/keytool" authority --domain "$domain" --name "Qovra Demo Authority" --out "$demo/ca"
"$bin/keytool" server --domain "$domain" --authority "$demo/ca" --name "Qovra Demo Server" \
  --out "$demo/server"
mkdir -p "$demo/registry" "$demo/data"
for user in alice bob; do
  "$bin/keytool" user --domain "$domain" --authority "$demo/ca" --name "$user@127.0.0.1" \
    --out "$demo/$user"
  "$bin/keytool" register --registry "$demo/registry" --authority "$demo/ca" \
    --address "$user@127.0.0.1" --cert "$demo/$user.cer"
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
echo "exchange server listening on 127.0.0.1:$port"

"$bin/mail-demo" "http://127.0.0.1:$port" \
  alice@127.0.0.1 "$demo/alice.cer" "$demo/alice.prk" alice-demo \
  bob@127.0.0.1 "$demo/bob.cer" "$demo/bob.prk" bob-demo
stop_server
