#!/usr/bin/env bash
# Several script hosts behind nginx on one machine, as a site that outgrows one host runs: two
# vhost processes serve the same site folder (so uploads land in one folder on one file system)
# and open the same PostgreSQL database; nginx, configured from scripts/cluster-nginx.conf,
# spreads the requests over them. Everything listens on loopback.
#   scripts/cluster.sh start WORK [SITE]   SITE defaults to examples/site; prints the address
#   scripts/cluster.sh stop WORK           stops what start started and removes WORK
# VANTREL_SITE_DB names the database (a connection string); without it the script starts a
# PostgreSQL server of its own in WORK/pg (tests/support/pg_server.sh). Every host gets it as the
# Application value UploadsDb, and its own name (a, b) as HostName. BUILD (default: build) is
# the build folder, NGINX_PORT (default: a free port) where nginx listens. Run scripts/run.sh or
# scripts/test.sh once first: this script neither installs nor builds.
set -euo pipefail
cd "$(dirname "$0")/.."
action=${1:?start or stop}
work=${2:?work folder}
site=${3:-examples/site}
build=${BUILD:-build}

stop() {
  if [ -f "$work/nginx.pid" ]; then
    nginx -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log" -s stop 2>/dev/null || true
  fi
  for name in a b; do
    if [ -f "$work/host-$name.pid" ]; then
      kill "$(cat "$work/host-$name.pid")" 2>/dev/null || true
    fi
  done
  for name in a b; do
    if [ -f "$work/host-$name.pid" ]; then
      pid=$(cat "$work/host-$name.pid")
      for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    fi
  done
  if [ -d "$work/pg" ]; then
    bash tests/support/pg_server.sh stop "$work/pg"
  fi
  rm -rf "$work"
}

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Starts host $1; prints its port once it listens.
start_host() {
  local name=$1
  PLATFORM_REGISTRY="$work/registry.reg" PLATFORM_ACP=65001 \
    "$build/bin/vhost" --root "$site" --address 127.0.0.1 --port 0 --access-log off \
    --data-dir files --data-dir zfiles --data-dir data \
    --app-value "UploadsDb=$db" --app-value "HostName=$name" \
    >"$work/host-$name.out" 2>"$work/host-$name.err" &
  echo $! >"$work/host-$name.pid"
  for _ in $(seq 100); do
    port=$(sed -n 's|.*http://127.0.0.1:\([0-9]*\)/.*|\1|p' "$work/host-$name.out")
    if [ -n "$port" ]; then
      echo "$port"
      return
    fi
    sleep 0.1
  done
  cat "$work/host-$name.err" >&2
  echo "cluster.sh: host $name did not start" >&2
  return 1
}

case "$action" in
  start)
    [ -x "$build/bin/vhost" ] || { echo "cluster.sh: no $build/bin/vhost: build first" >&2; exit 1; }
    command -v nginx >/dev/null || { echo "cluster.sh: no nginx (scripts/setup.sh installs it)" >&2; exit 1; }
    site=$(cd "$site" && pwd)
    rm -rf "$work"
    mkdir -p "$work/nginx-temp"
    # The database server and nginx's workers may run as users of their own (under root), who
    # must reach their folders in it (and the folders above it must let them through).
    chmod 711 "$work"
    work=$(cd "$work" && pwd)
    trap 'stop' ERR
    for module in "$build/bin/libVtrlSrv.so" "$build/bin/libado.so"; do
      PLATFORM_REGISTRY="$work/registry.reg" "$build/bin/regsvr" -s "$module"
    done
    db=${VANTREL_SITE_DB:-}
    if [ -z "$db" ]; then
      bash tests/support/pg_server.sh start "$work/pg" >/dev/null
      db="Provider=PostgreSQL;Host=$work/pg;Port=5432;Database=postgres;User ID=vantrel"
    fi
    port_a=$(start_host a)
    port_b=$(start_host b)
    port=${NGINX_PORT:-$(free_port)}
    user=""
    if [ "$(id -u)" -eq 0 ]; then
      # nginx's workers drop root; they need their temporary folders.
      user="user nobody nogroup;"
      chown -R nobody:nogroup "$work/nginx-temp"
    fi
    sed -e "s|@WORK@|$work|g" -e "s|@USER@|$user|" -e "s|@PORT_A@|$port_a|" \
      -e "s|@PORT_B@|$port_b|" -e "s|@PORT@|$port|" scripts/cluster-nginx.conf >"$work/nginx.conf"
    nginx -p "$work" -c "$work/nginx.conf" -e "$work/nginx-error.log"
    echo "cluster.sh: http://127.0.0.1:$port/ (hosts a on $port_a and b on $port_b)"
    ;;
  stop)
    stop
    ;;
  *)
    echo "cluster.sh: unknown action $action" >&2
    exit 2
    ;;
esac
