#!/usr/bin/env bash
# Processing speed of the real backend and engine, against cp as the baseline
# measured in the same run:
#   1. a one-movie batch in new-file mode on a movie of at least 1 GiB,
#      against cp of the same file, the sync of that copy alone (the time the
#      device needs to take the bytes, which every durable copy pays and cp
#      does not) and the two together;
#   2. a batch of 200 small movies: movies per second, against cp of them and
#      the sync of those copies.
# The runs interleave (batch, cp, batch, ...) after one discarded round, and
# the median and minimum of each are printed: on a shared machine the minimum
# is the run that the neighbours disturbed least.
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

def cp_then_flush(sources, folder):
    os.makedirs(folder)
    copies = [os.path.join(folder, os.path.basename(s)) for s in sources]
    start = time.perf_counter()
    subprocess.run(["cp", *sources, folder], check=True)
    copied = time.perf_counter()
    subprocess.run(["sync", *copies], check=True)
    return copied - start, time.perf_counter() - copied

def settle():
    subprocess.run(["sync"], check=True)

def measure(ids, sources, out_folder, cp_folder, rounds):
    batches, cps, flushes = [], [], []
    for _ in range(rounds):
        settle()
        batches.append(batch(ids))
        shutil.rmtree(out_folder)
        settle()
        copy, flush = cp_then_flush(sources, cp_folder)
        cps.append(copy)
        flushes.append(flush)
        shutil.rmtree(cp_folder)
    return {"batch": batches, "cp": cps, "flush": flushes,
            "cp+flush": [c + f for c, f in zip(cps, flushes)]}

def summary(samples):
    return {name: (statistics.median(v), min(v)) for name, v in samples.items()}

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

# Warm the page cache once for both sides, then one discarded round: the disk
# is still taking the freshly made movies.
subprocess.run(["cat", large, *smalls], stdout=subprocess.DEVNULL, check=True)
measure(large_ids, [large], out_large, cp_large, 1)
big = summary(measure(large_ids, [large], out_large, cp_large, runs))
small = summary(measure(small_ids, smalls, out_small, cp_small, runs))

backend.stdin.close()
backend.wait()

def table(title, rows):
    print(title)
    print(f"  {'':34} {'median':>9} {'minimum':>9}")
    for label, (median, minimum) in rows:
        print(f"  {label:34} {median:8.3f}s {minimum:8.3f}s")

def ratios(label, a, b, target=""):
    print(f"  {label:34} {a[0] / b[0]:9.3f} {a[1] / b[1]:9.3f}{target}")

gib = size / (1 << 30)
print(f"{runs} runs each")
table(f"one-movie batch, {gib:.2f} GiB, new file",
      [("batch", big["batch"]), ("cp", big["cp"]), ("  its flush alone", big["flush"]),
       ("cp + flush", big["cp+flush"])])
ratios("ratio batch/cp", big["batch"], big["cp"], "  (target <= 1.15)")
ratios("ratio batch/(cp+flush)", big["batch"], big["cp+flush"])
table(f"{len(small_ids)}-movie batch", [("batch", small["batch"]), ("cp", small["cp"]),
                                        ("  its flush alone", small["flush"]), ("cp + flush", small["cp+flush"])])
print(f"  movies per second (median run)     {len(small_ids) / small['batch'][0]:9.1f}")
ratios("ratio batch/(cp+flush)", small["batch"], small["cp+flush"])
PY
