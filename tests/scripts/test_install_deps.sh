#!/usr/bin/env bash
# scripts/install-deps.sh names only packages of their own: on a ready
# machine its check finds nothing missing. A name that another package only
# provides (dpkg never reports it as installed, so every start would run
# apt again) fails the test; a real package that is simply not installed on
# this machine skips it (exit 77).
set -u
script="$1"
if ! command -v dpkg-query >/dev/null; then
  echo "SKIP: no dpkg on this machine"
  exit 77
fi

out=$(bash "$script" --check)
status=$?
if ((status == 0)); then
  echo "every package is installed"
  exit 0
fi
if ((status != 1)) || [[ "$out" != missing:* ]]; then
  echo "FAIL: unexpected answer from --check (exit $status): $out"
  exit 1
fi

# Names without versions of their own that other packages provide.
provided_only() {
  apt-cache showpkg "$1" 2>/dev/null | awk '
    /^Versions:/ { section = "v"; next }
    /^Reverse Provides:/ { section = "p"; next }
    /^[A-Z][A-Za-z ]*:/ { section = ""; next }
    section == "v" && NF { versions++ }
    section == "p" && NF { providers++ }
    END { exit !(versions == 0 && providers > 0) }'
}

failed=0
for p in ${out#missing:}; do
  if provided_only "$p"; then
    echo "FAIL: $p is only a name other packages provide; list the package itself"
    failed=1
  else
    echo "not installed here: $p"
  fi
done
((failed)) && exit 1
echo "SKIP: the machine lacks packages"
exit 77
