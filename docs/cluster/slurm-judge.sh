#!/usr/bin/env bash
# Judges a contest on a Slurm cluster: SHARDS shards as one job array, then a
# job that merges their results once every shard has ended well.
# Usage: slurm-judge.sh CONTEST_DIR [SHARDS]
# CONTEST_DIR lies on a file system every node mounts at that same path, and
# qxj-judge is installed on every node. Prints the merge job's id.
set -euo pipefail
contest=$(printf %q "$1")
shards=${2:-4}
# The recipe, as the README shows it:
shards_job=$(sbatch --parsable --job-name=qxj-shard --array=0-$((shards - 1)) \
  --wrap="qxj-judge --shard \$SLURM_ARRAY_TASK_ID/\$SLURM_ARRAY_TASK_COUNT $contest")
sbatch --parsable --job-name=qxj-merge --dependency=afterok:"$shards_job" \
  --wrap="qxj-judge --merge --export $contest/scores.csv $contest"
