#!/usr/bin/env bash
# The cluster test: scripts/cluster.sh starts two script hosts on a copy of tests/cluster/site
# behind nginx with a PostgreSQL database of their own, load.py sends 200 uploads at once
# through nginx and checks what was kept; the cluster is stopped whatever the outcome.
#   tests/cluster/run.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export BUILD=$(cd "${1:?build folder}" && pwd)
work=$(mktemp -d /tmp/vantrel-cluster-XXXXXX)
# The database server and nginx's workers run as users of their own, who must reach their folders.
chmod 711 "$work"
trap 'bash "$here/../../scripts/cluster.sh" stop "$work/cluster"; rm -rf "$work"' EXIT
cp -r "$here/site" "$work/site"
started=$(bash "$here/../../scripts/cluster.sh" start "$work/cluster" "$work/site")
echo "$started"
url=$(echo "$started" | sed -n 's|.*\(http://127.0.0.1:[0-9]*/\).*|\1|p')
python3 "$here/load.py" "$url" "$work/site"
