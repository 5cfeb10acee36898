#!/bin/bash
# A Slurm job array over one catalog: task K of N forecasts the K-th share of
# the storms into PARTS/part-K.nc (tarvo-batch takes the share from the
# SLURM_ARRAY_* variables). A task that is requeued or run again takes up the
# chunks it had finished (--resume). When all tasks are done:
#   tarvo-catalog merge PARTS/part-*.nc -o forecasts.nc
#
#   sbatch --array=0-49 scripts/slurm_catalog.sh TRACKS.nc DATA_DIR PARTS_DIR
#
# tarvo-batch is taken from TARVO_BATCH, else from PATH.
#SBATCH --job-name=tarvo
#SBATCH --cpus-per-task=2
#SBATCH --mem=1G
#SBATCH --requeue
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: sbatch --array=0-N $0 TRACKS.nc DATA_DIR PARTS_DIR" >&2
  exit 2
fi
tracks=$1 data=$2 parts=$3
mkdir -p "$parts"
exec "${TARVO_BATCH:-tarvo-batch}" -j "${SLURM_CPUS_PER_TASK:-1}" --data "$data" --catalog "$tracks" \
  --out "$parts/part-${SLURM_ARRAY_TASK_ID:-0}.nc" --resume
