#!/usr/bin/env bash
# A PostgreSQL server for the tests, in a folder of its own, reached only through the Unix socket
# in that folder (no TCP port), with the role "vantrel" trusted and no durability (the data is
# thrown away). PostgreSQL refuses to run as root: when called by root, the server runs as the
# user "postgres" that Debian's package creates, which owns the folder.
#   pg_server.sh start DIR   makes the folder anew, starts the server and waits until it answers
#   pg_server.sh stop DIR    stops the server and removes the folder
# Tests connect with "host=DIR port=5432 dbname=postgres user=vantrel".
set -euo pipefail
action=${1:?start or stop}
dir=${2:?folder}
case "$dir" in /*) ;; *) echo "pg_server.sh: $dir is not an absolute path" >&2; exit 2 ;; esac

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
  echo "pg_server.sh: no PostgreSQL server programs under /usr/lib/postgresql (scripts/setup.sh installs them)" >&2
  exit 1
fi

as_owner=()
if [ "$(id -u)" -eq 0 ]; then
  if ! id postgres >/dev/null 2>&1; then
    echo "pg_server.sh: running as root and there is no user postgres to run the server as" >&2
    exit 1
  fi
  as_owner=(runuser -u postgres --)
fi

stop() {
  if [ -f "$dir/data/postmaster.pid" ]; then
    "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$dir"
}

case "$action" in
  start)
    stop
    mkdir -m 700 "$dir"
    if ((${#as_owner[@]})); then chown postgres: "$dir"; fi
    if ! "${as_owner[@]}" "$bin/initdb" -D "$dir/data" -U vantrel --auth=trust -E UTF8 \
        --locale=C.UTF-8 --no-sync >"$dir/initdb.log" 2>&1; then
      cat "$dir/initdb.log" >&2
      echo "pg_server.sh: initdb failed" >&2
      exit 1
    fi
    if ! "${as_owner[@]}" "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
        -o "-k $dir -c listen_addresses= -c fsync=off -c synchronous_commit=off -c full_page_writes=off -c max_connections=200" \
        start >/dev/null; then
      cat "$dir/server.log" >&2 || true
      echo "pg_server.sh: the server did not start" >&2
      exit 1
    fi
    echo "pg_server.sh: serving on $dir/.s.PGSQL.5432"
    ;;
  stop)
    stop
    ;;
  *)
    echo "pg_server.sh: unknown action $action" >&2
    exit 2
    ;;
esac
