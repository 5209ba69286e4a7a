#!/usr/bin/env bash
# The SMTP client against curl: one message with a 40 MB attachment, sent by mail_bench_run and, as
# the very same bytes, by `curl smtp://... -T` to one local server (smtp_test_server.py), which is
# started on a free port and stopped by its process id. Prints both times (best of
# $MAIL_BENCH_ROUNDS, default 3), their ratio and the client's peak resident-set growth.
#
#   mail_bench.sh MAIL_BENCH_RUN SMTP_TEST_SERVER
set -euo pipefail

DRIVER=${1:?usage: mail_bench.sh MAIL_BENCH_RUN SMTP_TEST_SERVER}
SERVER=${2:?usage: mail_bench.sh MAIL_BENCH_RUN SMTP_TEST_SERVER}
ROUNDS=${MAIL_BENCH_ROUNDS:-3}
WORK=$(mktemp -d /tmp/zentrove-mail-bench-XXXXXX)
PYTHON=/usr/bin/python3

for tool in curl "$PYTHON"; do
  command -v "$tool" >/dev/null || { echo "mail_bench.sh: $tool is missing" >&2; exit 1; }
done

server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  rm -rf "$WORK"
}
trap cleanup EXIT

head -c $((40 * 1024 * 1024)) /dev/urandom > "$WORK/archive.zip"
"$DRIVER" write "$WORK/archive.zip" "$WORK/message.eml"

mkdir -p "$WORK/server"
"$PYTHON" "$SERVER" plain "$WORK/server" &
server_pid=$!
for _ in $(seq 100); do [ -f "$WORK/server/port" ] && break; sleep 0.1; done
port=$(cat "$WORK/server/port")

now() { date +%s.%N; }
best() { printf '%s\n' "$@" | sort -g | head -1; }

ours=() theirs=() growth=()
for _ in $(seq "$ROUNDS"); do
  read -r seconds kilobytes < <("$DRIVER" send "$WORK/archive.zip" "$port")
  ours+=("$seconds")
  growth+=("$kilobytes")
  start=$(now)
  curl -s --url "smtp://127.0.0.1:$port" --mail-from bench@example.org --mail-rcpt sink@example.org \
    -T "$WORK/message.eml"
  end=$(now)
  theirs+=("$(python3 -c "print('%.3f' % ($end - $start))")")
  rm -f "$WORK"/server/msg-*.eml
done

o=$(best "${ours[@]}")
t=$(best "${theirs[@]}")
echo "message:            $(stat -c %s "$WORK/message.eml") bytes (40 MB attachment)"
echo "zentrove SMTP:      ${o} s"
echo "curl smtp -T:       ${t} s"
echo "ratio (ours/curl):  $(python3 -c "print('%.2f' % ($o / $t))")"
echo "peak RSS growth:    $(printf '%s\n' "${growth[@]}" | sort -g | tail -1) KB"
