#!/usr/bin/env bash
# Judges a contest on a room of machines with GNU parallel: one shard on each
# ssh login of HOSTS_FILE (one a line, ":" for this machine), then merges here.
# Usage: parallel-judge.sh HOSTS_FILE CONTEST_DIR
# CONTEST_DIR lies on a file system every machine mounts at that same path,
# and qxj-judge is installed on every machine. Exits as the merge does.
set -uo pipefail
hosts=$1
contest=$2
shards=$(grep -cv '^[[:space:]]*$' "$hosts")
# The recipe, as the README shows it:
seq 0 $((shards - 1)) \
  | parallel --sshloginfile "$hosts" --jobs 1 --quote qxj-judge --shard {}/"$shards" "$contest"
qxj-judge --merge --export "$contest/scores.csv" "$contest"
