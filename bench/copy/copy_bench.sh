#!/usr/bin/env bash
# The copy mode's speed against rsync and cp, and the rotation of 10,000 old backups.
#
#   copy_bench.sh ZENTROVE [DRIVER]
#
# ZENTROVE is the program; the copy task is made with `zentrove add` and `zentrove set` and run with
# `zentrove run N`. When that program cannot run copy tasks yet, DRIVER (copy_bench_run, the same
# command line with the copy steps registered) runs them instead. Work files go to $COPY_BENCH_DIR
# (default /tmp/zentrove-copy-bench); the generated data sets are kept there for the next run.
# Each timing is the best of $COPY_BENCH_ROUNDS rounds (default 3), with `sync` before each.
set -euo pipefail

ZENTROVE=${1:?usage: copy_bench.sh ZENTROVE [DRIVER]}
DRIVER=${2:-}
WORK=${COPY_BENCH_DIR:-/tmp/zentrove-copy-bench}
ROUNDS=${COPY_BENCH_ROUNDS:-3}
HERE=$(cd "$(dirname "$0")" && pwd)
CORPUS_SCRIPT="$HERE/../corpus/make_corpus.py"

for tool in rsync cp python3; do
  command -v "$tool" >/dev/null || { echo "copy_bench.sh: $tool is missing" >&2; exit 1; }
done

mkdir -p "$WORK"
[ -d "$WORK/corpus" ] || python3 "$CORPUS_SCRIPT" mixed "$WORK/corpus"
[ -d "$WORK/small" ] || python3 "$CORPUS_SCRIPT" small "$WORK/small"

export ZENTROVE_CONFIG_DIR="$WORK/config"
rm -rf "$ZENTROVE_CONFIG_DIR"
mkdir -p "$ZENTROVE_CONFIG_DIR"

# Seconds since the epoch with nanoseconds.
now() { date +%s.%N; }
# Runs a command quietly and prints the seconds it took.
timed() {
  local start end
  start=$(now)
  "$@" >/dev/null 2>&1 || { echo "copy_bench.sh: failed: $*" >&2; exit 1; }
  end=$(now)
  python3 -c "print('%.3f' % ($end - $start))"
}
minimum() { printf '%s\n' "$@" | sort -g | head -1; }
ratio() { python3 -c "print('%.2f' % ($1 / $2))"; }

# A copy task from SOURCE into TARGET (the backup folder is TARGET itself): update what changed,
# keep the folder structure relative to the source, empty folders included, access rights copied,
# the sources left as they are.
make_task() {
  local source=$1 target=$2 number
  number=$("$ZENTROVE" add)
  "$ZENTROVE" set "$number" ArchiveOrCopy=1 "FileSourceMask=$source/*.*" "Target=$target" FileMsk_Prefix= \
    FileMsk_ArhDateFormat= IfArhiveExistDeleteOld=0 IfArhiveExistAction=0 IfArhiveExistSync=0 SavePath=1 \
    StoreFullPathOnCopy=0 StoreEmptyFolders=1 ResetArchiveBitOnZip=0 CopyAccessRights=1 ProcessSubfolders=1 >/dev/null
  echo "$number"
}

# The program runs copy tasks itself once it registers the copy mode; until then the driver does.
RUNNER=$ZENTROVE
probe_source="$WORK/probe-src"
probe_target="$WORK/probe-dst"
rm -rf "$probe_source" "$probe_target"
mkdir -p "$probe_source"
echo probe >"$probe_source/probe.txt"
probe=$(make_task "$probe_source" "$probe_target")
if ! "$ZENTROVE" run "$probe" >/dev/null 2>&1 || [ ! -f "$probe_target/probe.txt" ]; then
  [ -n "$DRIVER" ] || { echo "copy_bench.sh: $ZENTROVE cannot run copy tasks; give the driver" >&2; exit 1; }
  RUNNER=$DRIVER
fi
echo "runs copy tasks with: $RUNNER"

bench_set() {
  local name=$1 source=$2
  local ours="$WORK/out-$name-zentrove" theirs="$WORK/out-$name-rsync" plain="$WORK/out-$name-cp"
  local task files size
  files=$(find "$source" -type f | wc -l)
  size=$(du -sm "$source" | cut -f1)
  task=$(make_task "$source" "$ours")
  local t_ours=() t_rsync=() t_cp=()
  for ((round = 1; round <= ROUNDS; round++)); do
    rm -rf "$ours" "$theirs" "$plain"
    sync
    t_ours+=("$(timed "$RUNNER" run "$task")")
    sync
    t_rsync+=("$(timed rsync -a "$source/" "$theirs/")")
    sync
    t_cp+=("$(timed cp -a "$source" "$plain")")
  done
  if ! diff -r --no-dereference "$source" "$ours" >/dev/null; then
    echo "copy_bench.sh: the copy of $name differs from its source" >&2
    exit 1
  fi
  local n_ours=() n_rsync=() s_ours=() s_rsync=()
  for ((round = 1; round <= ROUNDS + 2; round++)); do
    n_ours+=("$(timed "$RUNNER" run "$task")")
    n_rsync+=("$(timed rsync -a "$source/" "$theirs/")")
  done
  "$ZENTROVE" set "$task" IfArhiveExistSync=1 >/dev/null
  for ((round = 1; round <= ROUNDS + 2; round++)); do
    s_ours+=("$(timed "$RUNNER" run "$task")")
    s_rsync+=("$(timed rsync -a --delete "$source/" "$theirs/")")
  done
  local first_ours first_rsync first_cp none_ours none_rsync sync_ours sync_rsync
  first_ours=$(minimum "${t_ours[@]}")
  first_rsync=$(minimum "${t_rsync[@]}")
  first_cp=$(minimum "${t_cp[@]}")
  none_ours=$(minimum "${n_ours[@]}")
  none_rsync=$(minimum "${n_rsync[@]}")
  sync_ours=$(minimum "${s_ours[@]}")
  sync_rsync=$(minimum "${s_rsync[@]}")
  echo
  echo "$name: $files files, $size MB"
  echo "  first copy        zentrove ${first_ours}s  rsync -a ${first_rsync}s  cp -a ${first_cp}s"
  echo "                    ratio to rsync -a $(ratio "$first_ours" "$first_rsync") (target <= 1.00)," \
    "to cp -a $(ratio "$first_ours" "$first_cp")"
  echo "  nothing changed   zentrove ${none_ours}s  rsync -a ${none_rsync}s" \
    "ratio $(ratio "$none_ours" "$none_rsync") (target <= 1.20)"
  echo "  synchronise, no change  zentrove ${sync_ours}s  rsync -a --delete ${sync_rsync}s" \
    "ratio $(ratio "$sync_ours" "$sync_rsync")"
  rm -rf "$ours" "$theirs" "$plain"
}

bench_set corpus "$WORK/corpus"
bench_set small "$WORK/small"

# Rotation: 10,000 old archives, then 10,000 old backup folders of the copy mode; three are kept.
[ -n "$DRIVER" ] || { echo "(rotation needs the driver)"; exit 0; }
rotation="$WORK/rotation"
rm -rf "$rotation"
mkdir -p "$rotation"
python3 - "$rotation" <<'EOF'
import os, sys
root = sys.argv[1]
for i in range(10000):
    path = os.path.join(root, "Work-%05d.zip" % i)
    with open(path, "wb") as f:
        f.write(b"zip")
    os.utime(path, (1700000000 + i * 60, 1700000000 + i * 60))
EOF
files_time=$("$DRIVER" rotate "$rotation" Work 3)
left=$(find "$rotation" -mindepth 1 | wc -l)
# The same tree again for `rm -rf` (keeping nothing): on a slow disk the removal itself takes the
# time, whoever asks for it.
make_folders() {
  python3 - "$1" <<'EOF'
import os, sys
root = sys.argv[1]
for i in range(10000):
    folder = os.path.join(root, "Docs-%05d" % i)
    os.mkdir(folder)
    with open(os.path.join(folder, "a.txt"), "wb") as f:
        f.write(b"copy")
    os.utime(folder, (1700000000 + i * 60, 1700000000 + i * 60))
EOF
}
rm -rf "$rotation"
mkdir -p "$rotation"
make_folders "$rotation"
sync
folders_time=$("$DRIVER" rotate "$rotation" Docs 3)
left_folders=$(find "$rotation" -mindepth 1 -maxdepth 1 | wc -l)
rm -rf "$rotation"
mkdir -p "$rotation"
make_folders "$rotation"
sync
rm_time=$(timed rm -rf "$rotation")
# The same in memory (tmpfs), where the disk's journal does not set the pace.
memory_line="(no /dev/shm here)"
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
  in_memory=$(mktemp -d /dev/shm/zentrove-rotation.XXXXXX)
  make_folders "$in_memory"
  memory_time=$("$DRIVER" rotate "$in_memory" Docs 3)
  rm -rf "$in_memory"
  mkdir -p "$in_memory"
  make_folders "$in_memory"
  memory_rm_time=$(timed rm -rf "$in_memory")
  memory_line="${memory_time}s, rm -rf ${memory_rm_time}s (ratio $(ratio "$memory_time" "$memory_rm_time"))"
fi
echo
echo "rotation of 10,000 old archives to 3: ${files_time}s ($left left; target < 1 s)"
echo "rotation of 10,000 old backup folders to 3: ${folders_time}s ($left_folders left; target < 1 s)"
echo "rm -rf of the same 10,000 folders: ${rm_time}s (ratio $(ratio "$folders_time" "$rm_time"))"
echo "the same rotation in memory: $memory_line"
