#!/usr/bin/env bash
# Archive tasks of the program against Info-ZIP and 7-Zip on the same files.
#
#   archive_bench.sh ZENTROVE
#
# ZENTROVE is the program; the archive tasks are made with `zentrove add` and `zentrove set` and run
# with `zentrove run N`, so the figures include everything a run does (the selection, the log, the
# rename to the final name). Three generated data sets (the same bytes for the same seed), kept in
# $ARCHIVE_BENCH_DIR (default /tmp/zentrove-archive-bench) for the next run: the mixed corpus (about
# 300 MB), 50,000 small files, and $ARCHIVE_BENCH_TINY_FILES (default 1,000,000) empty or tiny files
# for the memory a run needs per file. In the same rounds `zip -r -6` and `7z a -tzip -mx=5 -mmt=2`
# pack the same trees, and with AES-256 the program is compared with `7z -mem=AES256`. Each figure
# is the best of $ARCHIVE_BENCH_ROUNDS rounds (default 2; the million files once), with `sync`
# before each. Every archive of ours is then tested with 7z, unzip and Python and extracted.
set -euo pipefail

ZENTROVE=${1:?usage: archive_bench.sh ZENTROVE}
WORK=${ARCHIVE_BENCH_DIR:-/tmp/zentrove-archive-bench}
ROUNDS=${ARCHIVE_BENCH_ROUNDS:-2}
TINY_FILES=${ARCHIVE_BENCH_TINY_FILES:-1000000}
HERE=$(cd "$(dirname "$0")" && pwd)
CORPUS_SCRIPT="$HERE/../corpus/make_corpus.py"
PASSWORD="bench pass 2024"

for tool in zip unzip 7z python3 /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "archive_bench.sh: $tool is missing" >&2; exit 1; }
done

mkdir -p "$WORK"
[ -d "$WORK/corpus" ] || python3 "$CORPUS_SCRIPT" mixed "$WORK/corpus"
[ -d "$WORK/small" ] || python3 "$CORPUS_SCRIPT" small "$WORK/small"
[ -d "$WORK/tiny" ] || python3 "$CORPUS_SCRIPT" --files "$TINY_FILES" --folders 2000 tiny "$WORK/tiny"
OUT="$WORK/out"
mkdir -p "$OUT"

export ZENTROVE_CONFIG_DIR="$WORK/config"
rm -rf "$ZENTROVE_CONFIG_DIR"
mkdir -p "$ZENTROVE_CONFIG_DIR"

# An archive task of the tree SOURCE into $OUT/NAME.zip, a new archive every run, level 6, names
# relative to the tree with folder entries and stored in UTF-8 (as zip and 7z store them), archive
# marks left alone.
make_task() {
  local name=$1 source=$2 number
  shift 2
  number=$("$ZENTROVE" add)
  "$ZENTROVE" set "$number" ArchiveOrCopy=0 UseInnerZip=1 "FileSourceMask=$source/*.*" "Target=$OUT" \
    "FileMsk_Prefix=$name" FileMsk_ArhDateFormat= CompressMetod=6 IfArhiveExistDeleteOld=1 SavePath=1 \
    StoreFullPathOnCopy=0 StoreEmptyFolders=1 ResetArchiveBitOnZip=0 SkipIfArchiveBitNotSet=0 \
    ToCheckArchive=0 ProcessSubfolders=1 OemConvert=0 "$@" >/dev/null
  echo "$number"
}

# Runs a command once and prints "wall user+sys maxrss_kb". With WARM_TREE set, that tree is read
# whole first: the machine may have dropped the caches of a tree left alone for a minute, and the
# first program to walk it would pay for the others.
measure() {
  local stats="$WORK/time.txt"
  sync
  if [ -n "${WARM_TREE:-}" ]; then tar -cf - -C "$WARM_TREE" . | cat >/dev/null; fi
  /usr/bin/time -o "$stats" -f "%e %U %S %M" "$@" >/dev/null 2>"$WORK/errors.txt" ||
    { echo "archive_bench.sh: failed: $*" >&2; cat "$WORK/errors.txt" >&2; exit 1; }
  awk '{ printf "%.3f %.3f %d\n", $1, $2 + $3, $4 }' "$stats"
}

# The best of ROUNDS (by wall time) for a command that writes ARCHIVE; prints "wall cpu rss size".
best_of() {
  local rounds=$1 archive=$2 best="" line
  shift 2
  for _ in $(seq "$rounds"); do
    rm -f "$archive"
    line=$(measure "$@")
    if [ -z "$best" ] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN { exit !(a < b) }'; then best=$line; fi
  done
  echo "$best $(stat -c %s "$archive")"
}

# Every archive must pass unzip -t (which knows no AES), 7z t and Python's zipfile (no AES either)
# and extract equal to its sources.
verify() {
  local archive=$1 source=$2 password=${3:-} into="$WORK/extracted"
  7z t "-p$password" "$archive" >/dev/null || { echo "archive_bench.sh: $archive fails 7z t" >&2; exit 1; }
  if [ -z "$password" ]; then
    unzip -tq "$archive" >/dev/null || { echo "archive_bench.sh: $archive fails unzip -t" >&2; exit 1; }
    python3 -c 'import sys, zipfile; sys.exit(1 if zipfile.ZipFile(sys.argv[1]).testzip() else 0)' "$archive" ||
      { echo "archive_bench.sh: $archive fails Python's zipfile" >&2; exit 1; }
  fi
  rm -rf "$into"
  7z x "-p$password" -bd -bso0 -bsp0 "-o$into" "$archive" ||
    { echo "archive_bench.sh: $archive does not extract" >&2; exit 1; }
  diff -r "$source" "$into" >/dev/null || { echo "archive_bench.sh: $archive extracts different files" >&2; exit 1; }
  rm -rf "$into"
}

files_in() { find "$1" -type f | wc -l; }

mixed=$(make_task mixed "$WORK/corpus")
aes=$(make_task aes "$WORK/corpus" "Password=$PASSWORD" EncryptStrength=3)
small=$(make_task small "$WORK/small")
tiny=$(make_task tiny "$WORK/tiny")

echo "$(nproc) processors; load average before: $(cut -d' ' -f1-3 /proc/loadavg); best of $ROUNDS rounds (the million files: 1)"
echo "mixed: $(du -sm "$WORK/corpus" | cut -f1) MB in $(files_in "$WORK/corpus") files;" \
  "small: $(du -sm "$WORK/small" | cut -f1) MB in $(files_in "$WORK/small") files;" \
  "tiny: $(files_in "$WORK/tiny") files"
# The rounds of a data set run back to back, so that the ratios compare the same moments of load.
r_mixed=$(WARM_TREE="$WORK/corpus" best_of "$ROUNDS" "$OUT/mixed.zip" "$ZENTROVE" run "$mixed")
r_mixed_zip=$(cd "$WORK/corpus" && WARM_TREE="$WORK/corpus" best_of "$ROUNDS" "$OUT/zip6.zip" zip -r -6 -q "$OUT/zip6.zip" .)
r_mixed_7z=$(cd "$WORK/corpus" && WARM_TREE="$WORK/corpus" best_of "$ROUNDS" "$OUT/7z.zip" 7z a -tzip -mx=5 -mmt=2 -bd -bso0 -bsp0 "$OUT/7z.zip" .)
r_aes=$(WARM_TREE="$WORK/corpus" best_of "$ROUNDS" "$OUT/aes.zip" "$ZENTROVE" run "$aes")
r_aes_7z=$(cd "$WORK/corpus" && WARM_TREE="$WORK/corpus" best_of "$ROUNDS" "$OUT/7z-aes.zip" 7z a -tzip -mx=5 -mmt=2 -mem=AES256 "-p$PASSWORD" -bd -bso0 -bsp0 "$OUT/7z-aes.zip" .)
r_small=$(WARM_TREE="$WORK/small" best_of "$ROUNDS" "$OUT/small.zip" "$ZENTROVE" run "$small")
r_small_zip=$(cd "$WORK/small" && WARM_TREE="$WORK/small" best_of "$ROUNDS" "$OUT/small-zip6.zip" zip -r -6 -q "$OUT/small-zip6.zip" .)
r_small_7z=$(cd "$WORK/small" && WARM_TREE="$WORK/small" best_of "$ROUNDS" "$OUT/small-7z.zip" 7z a -tzip -mx=5 -mmt=2 -bd -bso0 -bsp0 "$OUT/small-7z.zip" .)
r_tiny=$(WARM_TREE="$WORK/tiny" best_of 1 "$OUT/tiny.zip" "$ZENTROVE" run "$tiny")
r_tiny_zip=$(cd "$WORK/tiny" && WARM_TREE="$WORK/tiny" best_of 1 "$OUT/tiny-zip6.zip" zip -r -6 -q "$OUT/tiny-zip6.zip" .)

verify "$OUT/mixed.zip" "$WORK/corpus"
verify "$OUT/aes.zip" "$WORK/corpus" "$PASSWORD"
verify "$OUT/small.zip" "$WORK/small"
verify "$OUT/tiny.zip" "$WORK/tiny"

python3 - "$(files_in "$WORK/small")" "$(files_in "$WORK/tiny")" "$r_mixed" "$r_mixed_zip" "$r_mixed_7z" "$r_aes" "$r_aes_7z" \
  "$r_small" "$r_small_zip" "$r_small_7z" "$r_tiny" "$r_tiny_zip" <<'PY'
import sys

small_files, tiny_files = int(sys.argv[1]), int(sys.argv[2])
names = ["mixed: zentrove run", "mixed: zip -r -6", "mixed: 7z -tzip -mx=5", "mixed: zentrove AES-256",
         "mixed: 7z AES-256", "small: zentrove run", "small: zip -r -6", "small: 7z -tzip -mx=5",
         "million: zentrove run", "million: zip -r -6"]
rows = [dict(zip(("wall", "cpu", "rss", "size"), map(float, arg.split()))) for arg in sys.argv[3:]]
mixed, mixed_zip, mixed_7z, aes, aes_7z, small, small_zip, small_7z, tiny, tiny_zip = rows
print("%-26s %9s %9s %10s %12s" % ("", "wall s", "cpu s", "peak MB", "size MB"))
for name, row in zip(names, rows):
    print("%-26s %9.2f %9.2f %10.1f %12.2f" % (name, row["wall"], row["cpu"], row["rss"] / 1024, row["size"] / 1e6))

# The peak over a million files, less that of the 50,000 small ones, spread over the files between.
per_file = (tiny["rss"] - small["rss"]) * 1024 / max(tiny_files - small_files, 1)
checks = [
    ("mixed: speed against zip -6 (wall)", mixed_zip["wall"] / mixed["wall"], ">=", 3.5),
    ("mixed: size against zip -6", mixed["size"] / mixed_zip["size"], "<=", 1.0),
    ("mixed: speed against 7z -tzip (wall)", mixed_7z["wall"] / mixed["wall"], "", None),
    ("mixed: size against 7z -tzip", mixed["size"] / mixed_7z["size"], "", None),
    ("small: speed against zip -6 (wall)", small_zip["wall"] / small["wall"], ">=", 2.5),
    ("small: size against zip -6", small["size"] / small_zip["size"], "<=", 1.0),
    ("small: speed against 7z -tzip (wall)", small_7z["wall"] / small["wall"], "", None),
    ("AES-256: time against our plain run", aes["wall"] / mixed["wall"], "<=", 1.1),
    ("AES-256: speed against 7z AES-256 (wall)", aes_7z["wall"] / aes["wall"], "", None),
    ("million: peak memory, MB", tiny["rss"] / 1024, "<=", 300.0),
    ("million: peak bytes per file", tiny["rss"] * 1024 / tiny_files, "", None),
    ("million: added bytes per file", per_file, "", None),
    ("million: speed against zip -6 (wall)", tiny_zip["wall"] / tiny["wall"], ">=", 1.0),
]
print()
for name, value, op, target in checks:
    if target is None:
        print("%-42s %8.2f" % (name, value))
        continue
    ok = value >= target if op == ">=" else value <= target
    print("%-42s %8.2f   target %s %.2f   %s" % (name, value, op, target, "met" if ok else "MISSED"))
# A loaded machine stretches wall times; the processor time tells what an idle one would show.
print("%-42s %8.2f" % ("mixed: processor time of zip -6 against ours", mixed_zip["cpu"] / mixed["cpu"]))
print("%-42s %8.2f" % ("small: processor time of zip -6 against ours", small_zip["cpu"] / small["cpu"]))
PY
