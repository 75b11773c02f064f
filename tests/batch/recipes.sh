#!/usr/bin/env bash
# The README's large-batch recipes, taken from the README itself and run as
# written: the Slurm job array on a private single-node Slurm (munge,
# slurmctld and slurmd started here on free ports, stopped at the end
# whatever happens), and GNU parallel with local job slots, once as the
# one-machine recipe and once as the ssh recipe with ':' (this machine) as its
# only login; a second host over a real ssh is the one thing not run here.
# Each run's outputs must equal one whole run's (diff -r), and every image
# must be written exactly once (inotify sees each output appear once).
# Runs under `make sanitize` as well: the daemons are Debian's, the jobs run
# the build under test with the sanitizers' settings in their environment.
# Usage: recipes.sh RENDER_PROGRAM README
set -euo pipefail
render=$(realpath "$1")
readme=$(realpath "$2")
for tool in munged munge slurmctld slurmd sbatch squeue parallel inotifywait python3; do
  command -v "$tool" >/dev/null || {
    echo "recipes: $tool is missing (scripts/setup installs it)" >&2
    exit 1
  }
done

work=$(mktemp -d)
daemons=()
own_slurm=""
stop() {
  local status=$?
  # Only the private cluster's jobs: never a real cluster's named by the caller's SLURM_CONF.
  if [ -n "$own_slurm" ]; then
    scancel --quiet --user="$(id -un)" 2>/dev/null || true
    for _ in $(seq 100); do
      [ -n "$(squeue -h 2>/dev/null)" ] || break
      sleep 0.1
    done
    if [ "$status" != 0 ]; then
      tail -n 20 "$work"/slurm/*.log 2>/dev/null || true
    fi
  fi
  local pid
  for ((i = ${#daemons[@]} - 1; i >= 0; i--)); do
    pid=${daemons[i]}
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  rm -rf "$work"
  exit "$status"
}
trap stop EXIT
trap 'exit 1' INT TERM HUP
cd "$work"
fail() {
  echo "recipes: $*" >&2
  exit 1
}
# Waits (in steps of a tenth of a second, at most SECONDS) until COMMAND succeeds.
await() {
  local tries=$(($1 * 10))
  shift
  until "$@" >/dev/null 2>&1; do
    ((--tries > 0)) || fail "gave up waiting for: $*"
    sleep 0.1
  done
}

# The fenced block after the line "<!-- recipe: NAME -->" in the README.
recipe() {
  local text
  text=$(awk -v marker="<!-- recipe: $1 -->" '
    $0 == marker { state = 1; next }
    state == 1 && /^```/ { state = 2; next }
    state == 1 { exit }
    state == 2 && /^```/ { exit }
    state == 2 { print }' "$readme")
  [ -n "$text" ] || fail "the README has no block marked 'recipe: $1'"
  printf '%s\n' "$text"
}
# TEXT with each OLD replaced by NEW; every OLD must be there, so a README
# that drops one fails here instead of running something else.
setting() {
  local text=$1
  shift
  while (($#)); do
    grep -qF -- "$1" <<<"$text" || fail "the recipe no longer holds '$1'"
    text=${text//"$1"/"$2"}
    shift 2
  done
  printf '%s\n' "$text"
}

# The recipes call the program by name: this build comes first on PATH.
mkdir bin
ln -s "$render" bin/inverse-logistic-render
export PATH=$work/bin:$PATH

# Thirty pictures in three folders, each base name its own; one name holds a
# space and one a newline, which only a NUL-separated list keeps whole.
for i in $(seq 30); do
  name=photos/$(printf '%s' abc | cut -c$((i % 3 + 1)))/picture$i.jpg
  [ "$i" = 29 ] && name="photos/c/picture 29.jpg"
  [ "$i" = 30 ] && name=$'photos/a/picture\n30.jpg'
  mkdir -p "$(dirname "$name")"
  inverse-logistic-render -q -a $((3 + i % 7)).5 -b upper -o "$name"
done
find photos -name '*.jpg' -print0 > list.txt
# The whole run, with the recipes' seed.
inverse-logistic-render -q --seed 7 --files-from list.txt --null -d whole
expected=$(find whole -type f -printf x | wc -c)
[ "$expected" = 30 ] || fail "the whole run wrote $expected files, not 30"

# Runs a recipe's shell text in a fresh copy of the pictures, with out/
# watched, then the command FINISH if given (waiting for what the recipe
# started): outputs must equal the whole run's, each written exactly once.
run() {
  local name=$1 text=$2 finish=${3:-} dir=$work/$1
  mkdir -p "$dir/out"
  cp -a photos "$dir/"
  inotifywait -m -e create -e moved_to --format '%f%0' --no-newline \
    -o "$dir.events" "$dir/out" 2> "$dir.watch" &
  local watcher=$!
  daemons+=("$watcher")
  await 10 grep -q 'Watches established' "$dir.watch"
  local start=$SECONDS
  (cd "$dir" && bash -euo pipefail -c "$text") | tee "$dir.stdout" || fail "$name: the recipe failed"
  [ -z "$finish" ] || "$finish" "$dir.stdout"
  touch "$dir/out/.end"
  await 10 grep -qa '\.end' "$dir.events"
  rm "$dir/out/.end"
  kill "$watcher"
  diff -r whole "$dir/out"
  python3 - "$dir.events" whole <<'EOF' || fail "$name: an output was not written exactly once"
import collections, os, sys
seen = collections.Counter(open(sys.argv[1], 'rb').read().split(b'\0'))
wrong = {n: seen[n] for n in map(os.fsencode, os.listdir(sys.argv[2])) if seen[n] != 1}
for n, c in wrong.items(): print(f'{n!r} written {c} times')
sys.exit(1 if wrong else 0)
EOF
  echo "$name: $expected images in $((SECONDS - start)) s, diff -r clean, each written once"
}

# Every shard listed in a parallel job log, each once, each with status 0.
check_joblog() {
  local log=$1 shards=$2
  awk -v n="$shards" -F'\t' '
    NR > 1 { rows++; if ($7 != 0 || $8 != 0) bad++; seen[$NF]++ }
    END { for (s in seen) if (seen[s] != 1) bad++; exit !(rows == n && !bad) }' "$log" \
    || { cat "$log"; fail "$log does not show $shards shards each ending well"; }
}

echo "GNU parallel on one machine"
text=$(recipe parallel-local)
text=$(setting "$text" /archive "$work/parallel-local")
run parallel-local "$text"
check_joblog parallel-local/render.log 4

echo "GNU parallel over ssh, with ':' (this machine) as its login"
text=$(recipe parallel-ssh)
text=$(setting "$text" /archive "$work/parallel-ssh" \
  4/host1,4/host2 4/: /usr/local/bin/inverse-logistic-render "$render")
run parallel-ssh "$text"
check_joblog parallel-ssh/render.log 16

# slurmd launches each task as the user who submitted it, which needs root;
# CI runs as root. Elsewhere the Slurm recipe is reported skipped (status 77).
if [ "$(id -u)" != 0 ]; then
  echo "Slurm job array: skipped, slurmd needs root to start jobs"
  exit 77
fi
echo "Slurm: munge, slurmctld and slurmd on free ports"
mkdir -m 700 munge
mkdir slurm slurm/state slurm/spool
head -c 1024 /dev/urandom > munge/munge.key
chmod 600 munge/munge.key
munged --foreground --force --key-file="$work/munge/munge.key" \
  --socket="$work/munge/socket" --pid-file="$work/munge/pid" \
  --seed-file="$work/munge/seed" --log-file="$work/slurm/munged.log" 2>/dev/null &
daemons+=($!)
await 10 munge --socket="$work/munge/socket" --no-input
read -r ctld_port slurmd_port < <(python3 -c '
import socket
ports = [socket.socket() for _ in range(2)]
for s in ports: s.bind(("127.0.0.1", 0))
print(*(s.getsockname()[1] for s in ports))')
host=$(hostname -s)
# CPUs=64 (config_overrides) lets sixteen 4-core tasks of the recipe share a
# small machine, so 64 tasks take four rounds of scheduling rather than 32.
cat > slurm/slurm.conf <<EOF
ClusterName=recipes
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$slurmd_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$work/munge/socket
StateSaveLocation=$work/slurm/state
SlurmdSpoolDir=$work/slurm/spool
SlurmctldPidFile=$work/slurm/slurmctld.pid
SlurmdPidFile=$work/slurm/slurmd.pid
SlurmctldLogFile=$work/slurm/slurmctld.log
SlurmdLogFile=$work/slurm/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
SelectType=select/cons_tres
SelectTypeParameters=CR_CPU
SlurmdParameters=config_overrides
ReturnToService=2
MinJobAge=3600
NodeName=$host NodeAddr=127.0.0.1 CPUs=64 State=UNKNOWN
PartitionName=batch Nodes=$host Default=YES MaxTime=INFINITE State=UP
EOF
export SLURM_CONF=$work/slurm/slurm.conf
own_slurm=1
slurmctld -D 2>/dev/null &
daemons+=($!)
slurmd -D 2>/dev/null &
daemons+=($!)
node_idle() { [ "$(sinfo -h -N -o %T)" = idle ]; }
await 60 node_idle

echo "Slurm job array"
script=$(recipe slurm-script)
tasks=$(sed -n 's/^#SBATCH --array=1-\([0-9]*\)$/\1/p' <<<"$script")
[ -n "$tasks" ] || fail "the Slurm script has no --array=1-N line"
mkdir slurm-array
printf '%s\n' "$script" > slurm-array/render.sh
text=$(recipe slurm-submit)
text=$(setting "$text" /archive "$work/slurm-array")
queue_empty() { [ -z "$(squeue -h)" ]; }
# The job submitted in OUTPUT has left the queue, every task COMPLETED with status 0.
slurm_done() {
  local job
  job=$(sed -n 's/^Submitted batch job \([0-9]*\)$/\1/p' "$1")
  [ -n "$job" ] || fail "sbatch named no job"
  await 600 queue_empty
  scontrol show job "$job" > "$work/slurm/job"
  if [ "$(grep -c 'JobState=COMPLETED' "$work/slurm/job")" != "$tasks" ] ||
    [ "$(grep -c 'ExitCode=0:0' "$work/slurm/job")" != "$tasks" ]; then
    grep -E 'JobId|JobState|ExitCode' "$work/slurm/job"
    fail "not every task ended well"
  fi
}
run slurm-array "$text" slurm_done
mapfile -t logs < <(ls slurm-array/render-*_*.out)
[ "${#logs[@]}" = "$tasks" ] || fail "$tasks tasks, ${#logs[@]} output files"
! grep -H . "${logs[@]}" || fail "a task printed the lines above"
echo "slurm-array: $tasks tasks, none printed anything"

echo "a shard with nothing to do leaves no output folder"
printf 'photos/b/picture1.jpg\n' > one.txt
inverse-logistic-render -q --seed 7 --shard 1/2 --files-from one.txt -d empty1
inverse-logistic-render -q --seed 7 --shard 2/2 --files-from one.txt -d empty2
folders=0
for folder in empty1 empty2; do [ ! -e "$folder" ] || folders=$((folders + 1)); done
[ "$folders" = 1 ] || fail "$folders output folders for one input in two shards"
echo "all recipes agree with one whole run"
