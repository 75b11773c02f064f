#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The README's large-batch recipes, taken from the README itself and run as
# written on a camera archive: the Slurm job array on a private single-node Slurm (munge,
# slurmctld and slurmd started here on free ports, stopped at the end
# whatever happens), and GNU parallel with local job slots, once as the
# one-machine recipe and once as the ssh recipe with ':' (this machine) as its
# only login; a second host over a real ssh is the one thing not run here.
# Each run's outputs must equal one whole run's (diff -r), and every image
# must be written exactly once (inotify sees each output appear once). Then
# the film's pipe recipe on a phone's rotated clip, checked with ffprobe.
# Runs under `make sanitize` as well: the daemons are Debian's, the jobs run
# the build under test with the sanitizers' settings in their environment.
# Usage: recipes.sh RENDER_PROGRAM README
set -euo pipefail
render=$(realpath "$1")
readme=$(realpath "$2")
for tool in munged munge slurmctld slurmd sbatch squeue parallel inotifywait python3 ffmpeg ffprobe exiftool; do
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

# A camera archive three levels deep: cards that restart their numbering
# (IMG_0001.JPG in every folder), suffixes in any case, a phone's HEIC, a
# PNG, names with a space and a newline, a film; beside them what is no
# image (a sidecar, the "._" files and hidden folders other systems leave).
images=0
for card in 2023/100CANON 2023/101CANON "2024/102 CANON"; do
  for i in 1 2 3 4 5 6; do
    name=photos/$card/IMG_000$i.JPG
    [ "$i" = 4 ] && name=photos/$card/IMG_000$i.jpeg
    [ "$i" = 5 ] && name=photos/$card/IMG_000$i.Jpg
    [ "$i" = 6 ] && name="photos/$card/IMG 000$i.png"
    mkdir -p "$(dirname "$name")"
    inverse-logistic-render -q -a $((3 + i)).5 -b upper -o "$name"
    images=$((images + 1))
  done
  printf 'sidecar\n' > "photos/$card/IMG_0001.XMP"
  ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x48:rate=25 -t 0.4 -c:v libx264 \
    -pix_fmt yuv420p "photos/$card/MVI_0007.MOV"
  images=$((images + 1))
  cp "photos/$card/IMG_0001.JPG" "photos/$card/._IMG_0001.JPG"
done
inverse-logistic-render -q -f heif -o photos/2024/IMG_5195.HEIC
inverse-logistic-render -q -o $'photos/2024/new\nline.TIF'
mkdir photos/.thumbnails && cp photos/2023/100CANON/IMG_0001.JPG photos/.thumbnails/
images=$((images + 2))
# The whole run, with the recipes' seed.
inverse-logistic-render -q --seed 7 -r photos -d whole
expected=$(find whole -type f -printf x | wc -c)
# Each card's sidecar goes beside its rendering.
[ "$expected" = "$((images + 3))" ] || fail "the whole run wrote $expected files, not $((images + 3))"
[ -f whole/photos/2023/101CANON/IMG_0001.JPG ] && [ -f "whole/photos/2024/102 CANON/IMG 0006.png" ] \
  && [ -f whole/photos/2024/IMG_5195.HEIC ] && [ -f whole/photos/2023/100CANON/IMG_0005.Jpg ] \
  || fail "the tree is not kept, with its suffixes as written: $(find whole | sort)"

# Runs a recipe's shell text in a fresh copy of the pictures, with out/
# watched, then the command FINISH if given (waiting for what the recipe
# started): outputs must equal the whole run's, each written exactly once.
# out/'s folders are there before the watch starts, so that it sees into each.
run() {
  local name=$1 text=$2 finish=${3:-} dir=$work/$1
  mkdir -p "$dir/out"
  (cd whole && find . -mindepth 1 -type d -print0) | (cd "$dir/out" && xargs -0 -r mkdir -p)
  cp -a photos "$dir/"
  inotifywait -m -r -e create -e moved_to --format '%w%f%0' --no-newline \
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
  python3 - "$dir.events" whole "$dir/out/" <<'EOF' || fail "$name: an output was not written exactly once"
import collections, os, sys
out = os.fsencode(sys.argv[3])
seen = collections.Counter(e[len(out):] for e in open(sys.argv[1], 'rb').read().split(b'\0'))
whole = os.fsencode(sys.argv[2])
files = [os.path.relpath(os.path.join(top, f), whole)
         for top, _, names in os.walk(whole) for f in names]
wrong = {n: seen[n] for n in files if seen[n] != 1}
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

echo "the film's pipe recipe: a phone's 3 s clip, turned a quarter, at 24000/1001 fps with a tone"
mkdir film
ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=320x240:rate=24000/1001 \
  -f lavfi -i sine=frequency=440:sample_rate=48000 -t 3 -c:v libx264 -pix_fmt yuv420p \
  -c:a aac film/clip.mp4
exiftool -q -overwrite_original -Rotation=90 film/clip.mp4
[[ $(ffprobe -v error -show_streams film/clip.mp4) == *$'\nrotation=-90\n'* ]] || fail "the clip is not rotated"
(cd film && bash -euo pipefail -c "$(recipe film)") </dev/null || fail "the film recipe failed"
probe() { ffprobe -v error -show_entries "stream=$2" -of csv=p=0 "film/$1"; }
[ "$(probe out.mp4 codec_type | sort | tr '\n' ' ')" = "audio video " ] \
  || fail "the film's streams: $(probe out.mp4 codec_type)"
[ "$(probe out.mp4 r_frame_rate | head -1)" = 24000/1001 ] && [ "$(probe out.mp4 pix_fmt | grep .)" = yuv420p ] \
  || fail "the film's rate and pixels: $(probe out.mp4 r_frame_rate,pix_fmt)"
[ "$(probe out.mp4 width,height | head -1)" = 240,320 ] \
  || fail "the film is not upright: $(probe out.mp4 width,height)"
[ "$(probe out.mp4 color_range,color_space | head -1)" = tv,smpte170m ] \
  || fail "the film's colour is not tagged as it was converted: $(probe out.mp4 color_range,color_space)"
python3 - "$(ffprobe -v error -show_entries format=duration -of csv=p=0 film/clip.mp4)" \
  "$(ffprobe -v error -show_entries format=duration -of csv=p=0 film/out.mp4)" <<'EOF' \
  || fail "the film's length changed"
import sys
clip, out = map(float, sys.argv[1:])
print(f"film: {clip:.3f} s in, {out:.3f} s out")
sys.exit(abs(clip - out) > 1001 / 24000)
EOF
echo "film: 24000/1001 fps, yuv420p, its sound, its length"

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
printf 'photos/2023/100CANON/IMG_0001.JPG\n' > one.txt
inverse-logistic-render -q --seed 7 --shard 1/2 --files-from one.txt -d empty1
inverse-logistic-render -q --seed 7 --shard 2/2 --files-from one.txt -d empty2
folders=0
for folder in empty1 empty2; do [ ! -e "$folder" ] || folders=$((folders + 1)); done
[ "$folders" = 1 ] || fail "$folders output folders for one input in two shards"
echo "all recipes agree with one whole run"
