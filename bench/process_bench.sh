#!/usr/bin/env bash
# Processing speed of the real backend and engine, against cp as the baseline
# measured in the same run:
#   1. a one-movie batch in new-file mode on a movie of at least 1 GiB,
#      against cp of the same file followed by a flush of the copy;
#   2. a batch of 200 small movies: movies per second, against cp of them.
#
#   bench/process_bench.sh [BUILD_DIR] [RUNS]
#
# BUILD_DIR holds resources/bin/velmora-mac-backend and velmora-engine
# (default: build). Needs ffmpeg and python3; about 3.5 GB of scratch space
# under ${TMPDIR:-/tmp}, removed at the end.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
runs=${2:-3}
resources=$build/resources
for program in velmora-mac-backend velmora-engine; do
  [ -x "$resources/bin/$program" ] || { echo "missing $resources/bin/$program: build first" >&2; exit 2; }
done
command -v ffmpeg >/dev/null && command -v python3 >/dev/null || { echo "needs ffmpeg and python3" >&2; exit 2; }

scratch=$(mktemp -d "${TMPDIR:-/tmp}/velmora-process-bench.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home" "$scratch/large" "$scratch/small"

echo "Making the movies (1080p raw video, 11 s; 200 copies of a 1 s MJPEG movie) ..."
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=25 -t 11 -c:v rawvideo -pix_fmt uyvy422 \
  "$scratch/large/large.mov"
ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=128x96:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
  -t 1 -c:v mjpeg -c:a pcm_s16le "$scratch/one.mov"
for i in $(seq -w 1 200); do cp "$scratch/one.mov" "$scratch/small/clip$i.mov"; done

HOME=$scratch/home python3 - "$resources" "$scratch" "$runs" <<'PY'
import json, os, shutil, statistics, subprocess, sys, time

resources, scratch, runs = sys.argv[1], sys.argv[2], int(sys.argv[3])
backend = subprocess.Popen([os.path.join(resources, "bin", "velmora-mac-backend"), resources],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True, bufsize=1)
next_id = 0

def call(command, args):
    global next_id
    next_id += 1
    backend.stdin.write(json.dumps({"id": next_id, "command": command, "args": args}) + "\n")
    backend.stdin.flush()
    while True:
        message = json.loads(backend.stdout.readline())
        if "event" in message:
            continue
        if message.get("id") == next_id:
            if "error" in message:
                sys.exit(f"{command} failed: {message['error']}")
            return message["result"]

def import_folder(folder):
    result = call("import_movies", {"paths": [folder], "recursive": False})
    if result["errors"]:
        sys.exit(f"import errors: {result['errors']}")
    return [record["id"] for record in result["files"]]

def batch(ids):
    start = time.perf_counter()
    result = call("process_movies", {"ids": ids, "timecodes": {i: "01:00:00:00" for i in ids},
                                     "options": {"copy": True}})
    elapsed = time.perf_counter() - start
    failed = [r for r in result["results"] if r["state"] != "done"]
    if failed:
        sys.exit(f"batch failed: {failed[0]}")
    return elapsed

def cp(sources, folder):
    os.makedirs(folder)
    start = time.perf_counter()
    copies = [os.path.join(folder, os.path.basename(s)) for s in sources]
    subprocess.run(["cp", *sources, folder], check=True)
    subprocess.run(["sync", *copies], check=True)
    return time.perf_counter() - start

def median_of(measure, clean):
    times = []
    for _ in range(runs):
        times.append(measure())
        clean()
    return statistics.median(times)

large_folder = os.path.join(scratch, "large")
large = os.path.join(large_folder, "large.mov")
size = os.path.getsize(large)
out_large = os.path.join(large_folder, "Velmora Output")
cp_large = os.path.join(scratch, "cp-large")
large_ids = import_folder(large_folder)

small_folder = os.path.join(scratch, "small")
smalls = sorted(os.path.join(small_folder, n) for n in os.listdir(small_folder))
out_small = os.path.join(small_folder, "Velmora Output")
cp_small = os.path.join(scratch, "cp-small")
small_ids = import_folder(small_folder)

# Warm the page cache once for both sides.
subprocess.run(["cat", large, *smalls], stdout=subprocess.DEVNULL, check=True)

t_cp = median_of(lambda: cp([large], cp_large), lambda: shutil.rmtree(cp_large))
t_batch = median_of(lambda: batch(large_ids), lambda: shutil.rmtree(out_large))
t_cp_small = median_of(lambda: cp(smalls, cp_small), lambda: shutil.rmtree(cp_small))
t_small = median_of(lambda: batch(small_ids), lambda: shutil.rmtree(out_small))

backend.stdin.close()
backend.wait()

gib = size / (1 << 30)
print(f"median of {runs} runs each")
print(f"one-movie batch, {gib:.2f} GiB, new file:  {t_batch:.3f} s  ({gib / t_batch:.2f} GiB/s)")
print(f"cp + flush of the same file:          {t_cp:.3f} s  ({gib / t_cp:.2f} GiB/s)")
print(f"ratio batch / cp:                     {t_batch / t_cp:.3f}  (target <= 1.15)")
print(f"200-movie batch:                      {t_small:.3f} s  ({len(small_ids) / t_small:.1f} movies/s)")
print(f"cp + flush of the 200 movies:         {t_cp_small:.3f} s  ({len(smalls) / t_cp_small:.1f} files/s)")
print(f"ratio batch / cp (200 movies):        {t_small / t_cp_small:.2f}")
PY
