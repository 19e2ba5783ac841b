#!/usr/bin/env bash
# What each step of bench/host.sh's small upload costs the host, in one run: the host's CPU per
# request for pages that do more and more of bench/site/save.asp, posted the same small bodies
# at 16 connections, taking turns in one-second slices (so that a change in the machine's load
# falls on all alike). Steps:
#   answer   the host answers without a page (a POST to a plain file is refused with 405):
#            receiving the body, the answer and the connection's work in the kernel
#   page     a page that only writes its text: the script heap and the page around it
#   respond  the page answers through Response (its content type and text), as save.asp does
#   object   Server.CreateObject of the upload object, which reads and cuts the body
#   walk     its attachments walked and each file name read
#   save     the page of bench/host.sh, which also saves every file
# Prints each step's CPU milliseconds per request and what it adds to the step before; the
# increments show where a small upload's time goes (a step's figure moves by a few
# microseconds from run to run on a shared machine).
# Then what one automation call costs: pages that read a member of an attachment 100 times in a
# loop (a text property, a number property, a method, which the script receives as a function),
# and that call Response.Write 100 times, against the same loops over a plain script object, in
# the same turns; the difference over 100 is one read's or call's cost.
#   bench/page_steps.sh [build-dir] [slices]    (default build-bench and 5)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-bench}
slices=${2:-5}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target vhost VtrlSrv regsvr upload_load -j 2 >/dev/null

work=$(mktemp -d)
host_pid=
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

export PLATFORM_REGISTRY=$work/registry.reg PLATFORM_ACP=65001 TMPDIR=$work/tmp
site=$work/site
mkdir -p "$work/tmp" "$site/files"
"$build/bin/regsvr" -s "$build/bin/libVtrlSrv.so" >/dev/null

echo "saved 1" >"$site/answer.txt"
page() {
  printf '<%%@ Language=JScript %%><%%\n%s\n%%>' "$2" >"$site/$1.asp"
}
printf '<%%@ Language=JScript %%>saved 1' >"$site/page.asp"
page respond 'Response.ContentType = "text/plain";
Response.Write("saved 1");'
page object 'var up = Server.CreateObject("Vantrel.FileUpload");
Response.ContentType = "text/plain";
Response.Write("saved 1");'
page walk 'var up = Server.CreateObject("Vantrel.FileUpload");
var saved = 0;
for (var e = new Enumerator(up.Attachments); !e.atEnd(); e.moveNext()) {
  var file = e.item();
  if (file.FileName == "") continue;
  saved++;
}
Response.ContentType = "text/plain";
Response.Write("saved " + saved);'
cp bench/site/save.asp "$site/save.asp"
calls_setup='var up = Server.CreateObject("Vantrel.FileUpload");
var f = new Enumerator(up.Attachments).item();
var o = {FileName: "small.txt", Size: 1024, SaveFile: function () {}};
var s = 0;'
page call_plain "$calls_setup
for (var i = 0; i < 100; i++) s += o.FileName.length;"
page call_text "$calls_setup
for (var i = 0; i < 100; i++) s += f.FileName.length;"
page call_number "$calls_setup
for (var i = 0; i < 100; i++) s += o.Size + f.Size - o.Size;"
page call_number_plain "$calls_setup
for (var i = 0; i < 100; i++) s += o.Size + o.Size - o.Size;"
page call_method "$calls_setup
for (var i = 0; i < 100; i++) s += f.SaveFile ? 1 : 0;"
page call_method_plain "$calls_setup
for (var i = 0; i < 100; i++) s += o.SaveFile ? 1 : 0;"
page call_write "$calls_setup
var w = {Write: function () {}};
for (var i = 0; i < 100; i++) Response.Write(\"x\");"
page call_write_plain "$calls_setup
var w = {Write: function () {}};
for (var i = 0; i < 100; i++) w.Write(\"x\");"
# Deployed pages, not ones edited a moment ago (the host compiles those again every time).
touch -d '-1 minute' "$site"/*.asp

"$build/bin/vhost" --root "$site" --port 0 --access-log off >"$work/out" 2>&1 &
host_pid=$!
port=
for _ in $(seq 100); do
  port=$(sed -n 's/.*http:\/\/127\.0\.0\.1:\([0-9]*\)\/.*/\1/p' "$work/out" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "page_steps: the host did not start" >&2; cat "$work/out" >&2; exit 1; }

steps=(answer page respond object walk save)
calls=(call_plain call_text call_number_plain call_number call_method_plain call_method
  call_write_plain call_write)
declare -A path=([answer]=/answer.txt [page]=/page.asp [respond]=/respond.asp
  [object]=/object.asp [walk]=/walk.asp [save]=/save.asp)
for call in "${calls[@]}"; do
  path[$call]=/$call.asp
done
declare -A ticks requests
cpu_ticks() { awk '{print $14 + $15}' "/proc/$host_pid/stat"; }
# Every answer counts as a request here: the refused POST is not a success for the client.
post() {
  "$build/bin/upload_load" --port "$port" --path "$1" --expect "" small --connections 16 \
    --seconds "$2" | awk '{print $2 + $4}' || true
}
for step in "${steps[@]}" "${calls[@]}"; do
  post "${path[$step]}" 0.5 >/dev/null
  ticks[$step]=0
  requests[$step]=0
done
order=("${steps[@]}" "${calls[@]}")
for _ in $(seq "$slices"); do
  for step in "${order[@]}"; do
    before=$(cpu_ticks)
    n=$(post "${path[$step]}" 1)
    ticks[$step]=$((ticks[$step] + $(cpu_ticks) - before))
    requests[$step]=$((requests[$step] + ${n:-0}))
  done
  order=("${order[@]:1}" "${order[0]}")
done

hz=$(getconf CLK_TCK)
# A step's CPU milliseconds per request.
ms() { awk -v t="${ticks[$1]}" -v n="${requests[$1]}" -v hz="$hz" \
  'BEGIN { printf "%.6f", n ? t * 1000 / hz / n : 0 }'; }
echo "The host's CPU per small upload at 16 connections, step by step ($slices slices of a second each):"
printf '%-8s %12s %10s %10s\n' step requests "CPU ms" added
previous=
for step in "${steps[@]}"; do
  awk -v s="$step" -v n="${requests[$step]}" -v ms="$(ms "$step")" -v p="$previous" \
    'BEGIN { if (p == "") printf "%-8s %12d %10.4f %10s\n", s, n, ms, "-"
             else printf "%-8s %12d %10.4f %+10.4f\n", s, n, ms, ms - p }'
  previous=$(ms "$step")
done

echo
echo "One read of an attachment's member, and one call of Response.Write(\"x\"), over the same"
echo "on a plain script object:"
for pair in "text call_text call_plain" "number call_number call_number_plain" \
  "method call_method call_method_plain" "write call_write call_write_plain"; do
  read -r kind page plain <<<"$pair"
  awk -v k="$kind" -v a="$(ms "$page")" -v b="$(ms "$plain")" \
    'BEGIN { printf "  %-8s %6.3f us\n", k, (a - b) * 1000 / 100 }'
done
