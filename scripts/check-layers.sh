#!/usr/bin/env bash
# Checks that includes run one way through the layers of the source tree:
# a folder includes only from itself and from the folders below it.
#
#   scripts/check-layers.sh [ROOT]      ROOT defaults to the source tree
#
# Lowest first:
#   crypto/  random/  zarvo/
#   core/seam  core/base  core/platform  core/keys  core/settings
#   core/store  core/net  core/commands  core/mail
#   ui/  addressbook/  account/  workspace/  app/
# core/ and the other Qt-free folders include no Qt header either.
#
# An include is placed by the header it names: a file beside the including
# one, a header under some folder's include/ (named by the path after
# include/), or a core header (named "folder/name.h"). Includes that name
# none of these (system and library headers) are not checked.
# Prints one line per wrong include and exits 1 when there is any.
set -euo pipefail
root="${1:-$(cd "$(dirname "$0")/.." && pwd)}"
cd "$root"

rooms=(crypto random zarvo core ui addressbook account workspace app)
present=()
for r in "${rooms[@]}"; do [ -d "$r" ] && present+=("$r"); done

{
  find "${present[@]}" -type f \( -name '*.h' -o -name '*.hpp' -o -name '*.cpp' -o -name '*.c' \) \
    -not -path '*/build/*' | sed 's/^/F\t/'
  grep -HnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*[<"]' -r "${present[@]}" \
    --include='*.h' --include='*.hpp' --include='*.cpp' --include='*.c' | sed 's/^/I\t/'
} | awk -F'\t' '
function room(path,   n, p) {
  n = split(path, p, "/")
  if (p[1] == "core" && n >= 3) return "core/" p[2]
  return p[1]
}
function key(path,   i) {
  i = index(path, "/include/")
  if (i > 0) { while (match(substr(path, i + 1), /\/include\//)) i += RSTART; return substr(path, i + 9) }
  if (path ~ /^core\/[^\/]+\/[^\/]+$/) return substr(path, 6)
  return ""
}
BEGIN {
  split("crypto random zarvo core/seam core/base core/platform core/keys core/settings core/store core/net core/commands core/mail ui addressbook account workspace app", order, " ")
  for (i in order) rank[order[i]] = i + 0
  qtfree["crypto"] = qtfree["random"] = qtfree["zarvo"] = 1
  bad = 0
}
$1 == "F" {
  file[$2] = 1
  k = key($2)
  if (k != "") {
    if ((k in owner) && owner[k] != room($2)) { print "ambiguous header name " k ": " owner[k] " and " room($2); bad = 1 }
    owner[k] = room($2)
  }
  next
}
$1 == "I" {
  line = substr($0, 3)
  split(line, a, ":")
  src = a[1]; ln = a[2]
  from = room(src)
  if (!(from in rank)) next
  text = substr(line, length(src) + length(ln) + 3)
  if (match(text, /<Q[A-Za-z]*[>\/]/) && (from ~ /^core\// || from in qtfree)) {
    print src ":" ln ": " from " includes Qt: " text; bad = 1; next
  }
  if (!match(text, /"[^"]+"/)) next
  name = substr(text, RSTART + 1, RLENGTH - 2)
  dir = src; sub(/\/[^\/]*$/, "", dir)
  if ((dir "/" name) in file) to = room(dir "/" name)
  else if (name in owner) to = owner[name]
  else next
  if (!(to in rank)) next
  if (rank[to] > rank[from]) { print src ":" ln ": " from " includes " to " (\"" name "\"), a higher folder"; bad = 1 }
}
END { exit bad }
'
