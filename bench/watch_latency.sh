#!/usr/bin/env bash
# How long torv-project watch takes from the save of one changed frame of
# the dense full-size frame sequence to the rebuilt file in place: the time
# from a frame's file written to the new file's appearance in OUT_DIR,
# over RUNS saves (alternating two edits, so that each changes the file).
#   usage: bench/watch_latency.sh BUILD_DIR [RUNS=10]
set -euo pipefail
build=$(realpath "$1")
runs=${2:-10}
work=$(mktemp -d)
watcher=
trap '[ -n "$watcher" ] && kill -INT "$watcher" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
mkdir game
"$build/make_samples" --dense game/d.bin >/dev/null
"$build/torv-project" unpack game proj -q
frame=proj/d/d100.png
# Two edits that surely change what the frame shows: a patch of it in
# negative, here or there (its colours going to the nearest entries).
convert "$frame" -region 40x30+0+0 -negate a.png
convert "$frame" -region 40x30+50+50 -negate b.png

"$build/torv-project" watch proj game out --nearest >watch.log 2>&1 &
watcher=$!
until grep -q "nothing changed" watch.log; do sleep 0.05; done

stamp() { stat -c %Y.%N out/d.bin 2>/dev/null || echo none; }
times=()
for ((k = 0; k < runs; ++k)); do
    before=$(stamp)
    edit=$([ $((k % 2)) -eq 0 ] && echo a.png || echo b.png)
    start=$(date +%s.%N)
    cp "$edit" "$frame"
    until [ "$(stamp)" != "$before" ]; do sleep 0.01; done
    end=$(date +%s.%N)
    times+=("$(echo "$end - $start" | bc)")
    sleep 0.5
done
printf '%s\n' "${times[@]}" | sort -n | awk '{ t[NR] = $1 } END {
    printf "watch latency over %d saves of one frame of 926: least %.2f s, median %.2f s, most %.2f s\n",
        NR, t[1], (NR % 2 ? t[(NR + 1) / 2] : (t[NR / 2] + t[NR / 2 + 1]) / 2), t[NR] }'
grep -c "records:" watch.log | xargs printf 'builds: %s\n'
