#!/usr/bin/env bash
# Runs the differential check on one engine for as long as asked: generated texts through the
# server and through the engine's own client library on the same database, and with literal
# lifting on and off, while the catalogue and the sessions' settings change between runs. Each
# difference is printed as the statements that reproduce it, shrunk; any difference fails.
# Usage: scripts/differential.sh ENGINE SECONDS [SEED]
#   ENGINE  sqlite | odbc-sqlite | pg | odbc-pg
#   SEED    a number; a new one each run when left out (printed, to run the same texts again)
# Uses the test programs of the build in BUILD_DIR (build-asan by default; build them first:
# cmake --build build-asan --target velmora_db_differential_test velmora_db_differential_pg_test).
# The PostgreSQL engines get a throwaway cluster of their own (scripts/pg-cluster.sh).
set -euo pipefail
cd "$(dirname "$0")/.."

engine=${1:?usage: differential.sh ENGINE SECONDS [SEED]}
seconds=${2:?usage: differential.sh ENGINE SECONDS [SEED]}
seed=${3:-$(( (RANDOM << 15) | RANDOM ))}
build=${BUILD_DIR:-build-asan}

case "$engine" in
  sqlite) program=velmora_db_differential_test; filter=Differential.SQLite ;;
  odbc-sqlite) program=velmora_db_differential_test; filter=Differential.OdbcSQLite ;;
  pg) program=velmora_db_differential_pg_test; filter=DifferentialPg.Pg ;;
  odbc-pg) program=velmora_db_differential_pg_test; filter=DifferentialPg.OdbcPg ;;
  *) echo "differential: no engine $engine (sqlite, odbc-sqlite, pg, odbc-pg)" >&2; exit 2 ;;
esac
binary=$(find "$build" -type f -name "$program" -perm -u+x | head -1)
[ -n "$binary" ] || { echo "differential: $program is not built in $build" >&2; exit 2; }

if [ "$program" = velmora_db_differential_pg_test ]; then
  cluster=$(mktemp -d /tmp/velmora-diff-pg.XXXXXX)
  trap 'bash scripts/pg-cluster.sh stop "$cluster" >/dev/null 2>&1 || true' EXIT
  bash scripts/pg-cluster.sh start "$cluster"
  export VELMORA_PG_CLUSTER=$cluster
fi

echo "differential: $engine for $seconds s, seed $seed"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
VELMORA_DIFF_SECONDS=$seconds VELMORA_DIFF_SEED=$seed "$binary" --gtest_filter="$filter"
