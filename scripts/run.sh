#!/usr/bin/env bash
# Installs what is needed, builds, registers the modules and starts the script host on the
# example site. Options after the script name go to the host (for instance --port 8090).
# The modules are registered in a registry file of the example (build/registry.reg) unless
# PLATFORM_REGISTRY names another one. The site's database pages use the database whose
# connection string VANTREL_SITE_DB holds (such as
# "Provider=PostgreSQL;Host=db;Database=site;User ID=web;Password=..."), and SQLite in the
# site's data folder when it is unset.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
export PLATFORM_REGISTRY=${PLATFORM_REGISTRY:-$PWD/build/registry.reg}
# The example pages are UTF-8: the components read and write text in that code page.
export PLATFORM_ACP=${PLATFORM_ACP:-65001}
for module in build/bin/libVtrlSrv.so build/bin/libado.so build/bin/libdispmodule.so \
  build/bin/libpagemodule.so; do
  [ -f "$module" ] && build/bin/regsvr -s "$module"
done
echo "Registered the modules in $PLATFORM_REGISTRY. Press Ctrl-C to stop the host."
# The site saves uploads into files/ and zfiles/ and its database into data/: folders of data
# only, from which no page runs and whose files go out as data.
site_db=()
if [ -n "${VANTREL_SITE_DB:-}" ]; then
  site_db=(--app-value "UploadsDb=$VANTREL_SITE_DB")
fi
exec build/bin/vhost --root examples/site --address 127.0.0.1 --port 8080 \
  --data-dir files --data-dir zfiles --data-dir data "${site_db[@]}" "$@"
