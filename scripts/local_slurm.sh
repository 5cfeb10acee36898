#!/usr/bin/env bash
# A one-node Slurm on this machine, for trying job arrays and for the tests:
# munged, slurmctld and slurmd from Debian's slurm-wlm and munge, everything
# (key, configuration, state, logs) in DIR. Needs root.
#   scripts/local_slurm.sh start DIR    then: export SLURM_CONF=DIR/slurm.conf
#   scripts/local_slurm.sh stop DIR
set -euo pipefail
usage() { echo "usage: $0 start|stop DIR" >&2; exit 2; }
[ $# -eq 2 ] || usage
dir=$(mkdir -p "$2" && cd "$2" && pwd)
export SLURM_CONF=$dir/slurm.conf

free_port() { /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

case $1 in
  start)
    [ "$(id -u)" -eq 0 ] || { echo "local_slurm: needs root (SlurmUser=root)" >&2; exit 1; }
    mkdir -p "$dir/state" "$dir/spool"
    head -c 1024 /dev/urandom > "$dir/munge.key"
    chmod 400 "$dir/munge.key"
    munged --force --key-file="$dir/munge.key" --socket="$dir/munge.sock" --pid-file="$dir/munged.pid" \
      --log-file="$dir/munged.log" --seed-file="$dir/munged.seed"
    host=$(hostname)
    memory=$(awk '/^MemTotal:/ { print int($2 / 1024 * 0.9) }' /proc/meminfo)
    cat > "$SLURM_CONF" <<CONF
ClusterName=tarvolocal
SlurmctldHost=$host
AuthType=auth/munge
AuthInfo=socket=$dir/munge.sock
SlurmUser=root
SlurmdUser=root
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
MpiDefault=none
ReturnToService=2
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
NodeName=$host CPUs=$(getconf _NPROCESSORS_ONLN) RealMemory=$memory State=UNKNOWN
PartitionName=local Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
    slurmctld
    slurmd
    for _ in $(seq 300); do  # up to 30 s for the node to report
      [ "$(sinfo -h -o %t 2> /dev/null)" = idle ] && { echo "$SLURM_CONF"; exit 0; }
      sleep 0.1
    done
    echo "local_slurm: the node did not come up; see $dir/slurmctld.log and $dir/slurmd.log" >&2
    exit 1
    ;;
  stop)
    scontrol shutdown > /dev/null 2>&1 || true
    for daemon in slurmd slurmctld; do
      pid_file=$dir/$daemon.pid
      [ -f "$pid_file" ] || continue
      pid=$(cat "$pid_file")
      for _ in $(seq 100); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
      kill -9 "$pid" 2> /dev/null || true
    done
    munged --socket="$dir/munge.sock" --stop > /dev/null 2>&1 || true
    ;;
  *) usage ;;
esac
