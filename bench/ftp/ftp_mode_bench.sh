#!/usr/bin/env bash
# The "Upload to FTP" mode against `lftp -e "mirror -R"` on 5,000 small files of the benchmark corpus,
# to the same local pyftpdlib server: the first run and a run with nothing changed, in one run with
# the ratios. The no-change run is checked against the server's command log: one listing per folder
# and no STOR.
#
#   ftp_mode_bench.sh DRIVER
#
# DRIVER is ftp_mode_bench_run. Work files go to $FTP_MODE_BENCH_DIR (default
# /tmp/zentrove-ftp-mode-bench).
set -euo pipefail

DRIVER=${1:?usage: ftp_mode_bench.sh DRIVER}
WORK=${FTP_MODE_BENCH_DIR:-/tmp/zentrove-ftp-mode-bench}
HERE=$(cd "$(dirname "$0")" && pwd)
SCRIPTS="$HERE/../../tests/transfer"
PYTHON=/usr/bin/python3

for tool in lftp "$PYTHON"; do
  command -v "$tool" >/dev/null || { echo "ftp_mode_bench.sh: $tool is missing" >&2; exit 1; }
done
"$PYTHON" -c 'import pyftpdlib' || { echo "ftp_mode_bench.sh: python3-pyftpdlib is missing" >&2; exit 1; }

rm -rf "$WORK"
mkdir -p "$WORK/ours" "$WORK/theirs" "$WORK/config"
export ZENTROVE_CONFIG_DIR="$WORK/config"
"$PYTHON" "$HERE/../corpus/make_corpus.py" --files 5000 --folders 50 small "$WORK/corpus"
folders=$(find "$WORK/corpus" -type d | wc -l)

PIDS=()
cleanup() { for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done; }
trap cleanup EXIT

# Starts a server rooted in $1 and prints its port.
start_server() {
  local tag=$1
  "$PYTHON" "$SCRIPTS/ftp_server.py" --root "$WORK/$tag" --port-file "$WORK/port-$tag" \
    --command-log "$WORK/commands-$tag" >"$WORK/server-$tag.log" 2>&1 &
  PIDS+=($!)
  for _ in $(seq 100); do [ -s "$WORK/port-$tag" ] && break; sleep 0.1; done
  cat "$WORK/port-$tag"
}
now() { date +%s.%N; }
ratio() { "$PYTHON" -c "print('%.2f' % ($1 / $2))"; }
lftp_mirror() {
  local start end
  start=$(now)
  lftp -u tester,secret -p "$1" -e "set ftp:passive-mode on; mirror -R --only-newer $WORK/corpus Mirror; quit" \
    127.0.0.1 >/dev/null
  end=$(now)
  "$PYTHON" -c "print('%.3f' % ($end - $start))"
}

ours_port=$(start_server ours)
theirs_port=$(start_server theirs)

read -r ours_first sent_first < <("$DRIVER" "$WORK/corpus" "$ours_port")
theirs_first=$(lftp_mirror "$theirs_port")
echo "first run:  zentrove ${ours_first}s ($sent_first files), lftp ${theirs_first}s, ratio $(ratio "$ours_first" "$theirs_first")"

before=$(wc -l <"$WORK/commands-ours")
read -r ours_again sent_again < <("$DRIVER" "$WORK/corpus" "$ours_port")
theirs_again=$(lftp_mirror "$theirs_port")
echo "no change:  zentrove ${ours_again}s ($sent_again files), lftp ${theirs_again}s, ratio $(ratio "$ours_again" "$theirs_again")"

listings=$(tail -n +$((before + 1)) "$WORK/commands-ours" | grep -cE '^(MLSD|LIST)' || true)
stores=$(tail -n +$((before + 1)) "$WORK/commands-ours" | grep -c '^STOR' || true)
echo "no change:  $listings listings for $folders folders, $stores STOR"
[ "$stores" -eq 0 ] || { echo "ftp_mode_bench.sh: the no-change run sent files" >&2; exit 1; }
[ "$listings" -eq "$folders" ] || { echo "ftp_mode_bench.sh: not one listing per folder" >&2; exit 1; }
diff -r "$WORK/corpus" "$WORK/ours/Mirror" >/dev/null || { echo "ftp_mode_bench.sh: the mirror differs" >&2; exit 1; }
