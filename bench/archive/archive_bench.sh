#!/usr/bin/env bash
# Archive tasks of the program against Info-ZIP and 7-Zip on the same files.
#
#   archive_bench.sh ZENTROVE
#
# ZENTROVE is the program; the archive tasks are made with `zentrove add` and `zentrove set` and run
# with `zentrove run N`, so the figures include everything a run does (the selection, the log, the
# rename to the final name). In the same rounds `zip -r -6` and `7z a -tzip -mx=5 -mmt=2` pack the
# same tree, and with AES-256 the program is compared with `7z -mem=AES256`. Work files go to
# $ARCHIVE_BENCH_DIR (default /tmp/zentrove-archive-bench); the generated corpus (about 300 MB, the
# same bytes for the same seed) is kept there for the next run. Each figure is the best of
# $ARCHIVE_BENCH_ROUNDS rounds (default 2), with `sync` before each.
set -euo pipefail

ZENTROVE=${1:?usage: archive_bench.sh ZENTROVE}
WORK=${ARCHIVE_BENCH_DIR:-/tmp/zentrove-archive-bench}
ROUNDS=${ARCHIVE_BENCH_ROUNDS:-2}
HERE=$(cd "$(dirname "$0")" && pwd)
CORPUS_SCRIPT="$HERE/../corpus/make_corpus.py"
PASSWORD="bench pass 2024"

for tool in zip 7z python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "archive_bench.sh: $tool is missing" >&2; exit 1; }
done

mkdir -p "$WORK"
[ -d "$WORK/corpus" ] || python3 "$CORPUS_SCRIPT" mixed "$WORK/corpus"
SOURCE="$WORK/corpus"
OUT="$WORK/out"
mkdir -p "$OUT"

export ZENTROVE_CONFIG_DIR="$WORK/config"
rm -rf "$ZENTROVE_CONFIG_DIR"
mkdir -p "$ZENTROVE_CONFIG_DIR"

# An archive task of the tree into $OUT/NAME.zip, a new archive every run, level 6, names relative
# to the tree with folder entries, archive marks left alone.
make_task() {
  local name=$1 number
  shift
  number=$("$ZENTROVE" add)
  "$ZENTROVE" set "$number" ArchiveOrCopy=0 UseInnerZip=1 "FileSourceMask=$SOURCE/*.*" "Target=$OUT" \
    "FileMsk_Prefix=$name" FileMsk_ArhDateFormat= CompressMetod=6 IfArhiveExistDeleteOld=1 SavePath=1 \
    StoreFullPathOnCopy=0 StoreEmptyFolders=1 ResetArchiveBitOnZip=0 SkipIfArchiveBitNotSet=0 \
    ToCheckArchive=0 ProcessSubfolders=1 "$@" >/dev/null
  echo "$number"
}

# Runs a command once and prints "wall user+sys maxrss_kb".
measure() {
  local stats="$WORK/time.txt"
  sync
  /usr/bin/time -o "$stats" -f "%e %U %S %M" "$@" >/dev/null 2>"$WORK/errors.txt" ||
    { echo "archive_bench.sh: failed: $*" >&2; cat "$WORK/errors.txt" >&2; exit 1; }
  awk '{ printf "%.3f %.3f %d\n", $1, $2 + $3, $4 }' "$stats"
}

# The best of the rounds (by wall time) for a command that writes ARCHIVE; prints "wall cpu rss size".
best_of() {
  local archive=$1 best="" line
  shift
  for _ in $(seq "$ROUNDS"); do
    rm -f "$archive"
    line=$(measure "$@")
    if [ -z "$best" ] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then best=$line; fi
  done
  echo "$best $(stat -c %s "$archive")"
}

plain=$(make_task plain)
aes=$(make_task aes "Password=$PASSWORD" EncryptStrength=3)

echo "corpus: $(du -sm "$SOURCE" | cut -f1) MB in $(find "$SOURCE" -type f | wc -l) files; $(nproc) processors; best of $ROUNDS"
ours=$(best_of "$OUT/plain.zip" "$ZENTROVE" run "$plain")
zip6=$(cd "$SOURCE" && best_of "$OUT/zip6.zip" zip -r -6 -q "$OUT/zip6.zip" .)
sevenzip=$(cd "$SOURCE" && best_of "$OUT/7z.zip" 7z a -tzip -mx=5 -mmt=2 -bd -bso0 -bsp0 "$OUT/7z.zip" .)
ours_aes=$(best_of "$OUT/aes.zip" "$ZENTROVE" run "$aes")
sevenzip_aes=$(cd "$SOURCE" && best_of "$OUT/7z-aes.zip" 7z a -tzip -mx=5 -mmt=2 -mem=AES256 "-p$PASSWORD" -bd -bso0 -bsp0 "$OUT/7z-aes.zip" .)

unzip -tq "$OUT/plain.zip" >/dev/null || { echo "archive_bench.sh: our archive fails unzip -t" >&2; exit 1; }
7z t "-p$PASSWORD" "$OUT/aes.zip" >/dev/null || { echo "archive_bench.sh: our AES archive fails 7z t" >&2; exit 1; }

python3 - "$ours" "$zip6" "$sevenzip" "$ours_aes" "$sevenzip_aes" <<'PY'
import sys

names = ["zentrove run", "zip -r -6", "7z -tzip -mx=5 -mmt=2", "zentrove run, AES-256", "7z -tzip, AES-256"]
rows = [dict(zip(("wall", "cpu", "rss", "size"), map(float, arg.split()))) for arg in sys.argv[1:]]
ours, zip6, seven, ours_aes, seven_aes = rows
print("%-24s %9s %9s %10s %12s" % ("", "wall s", "cpu s", "peak MB", "size MB"))
for name, row in zip(names, rows):
    print("%-24s %9.2f %9.2f %10.1f %12.2f" % (name, row["wall"], row["cpu"], row["rss"] / 1024, row["size"] / 1e6))

checks = [
    ("speed against zip -6 (wall)", zip6["wall"] / ours["wall"], ">=", 1.7),
    ("size against zip -6", ours["size"] / zip6["size"], "<=", 1.01),
    ("speed against 7z -tzip (wall)", seven["wall"] / ours["wall"], "", None),
    ("size against 7z -tzip", ours["size"] / seven["size"], "", None),
    ("AES-256 speed against 7z AES-256 (wall)", seven_aes["wall"] / ours_aes["wall"], ">=", 1.0),
    ("AES-256 time against our plain run", ours_aes["wall"] / ours["wall"], "<=", 1.3),
    ("peak memory of a run, MB", max(ours["rss"], ours_aes["rss"]) / 1024, "<=", 200.0),
]
print()
for name, value, op, target in checks:
    if target is None:
        print("%-42s %8.2f" % (name, value))
        continue
    ok = value >= target if op == ">=" else value <= target
    print("%-42s %8.2f   target %s %.2f   %s" % (name, value, op, target, "met" if ok else "MISSED"))
# A loaded machine stretches wall times; the processor time tells what an idle one would show.
print("%-42s %8.2f" % ("processor time of zip -6 against ours", zip6["cpu"] / ours["cpu"]))
PY
