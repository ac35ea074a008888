#!/usr/bin/env bash
# Times skinsplit and skinweld on a batch of generated 256 × 256 sub-type 1
# textures, next to cat copying the same input bytes (one cat per texture), and
# prints the median and the spread (fastest to slowest) of several runs.
#   bash bench/batch.sh [TEXTURES] [RUNS]      (defaults: 200 textures, 5 runs)
set -euo pipefail
cd "$(dirname "$0")/.."
count=${1:-200}
runs=${2:-5}

bash scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
bin=$PWD/build/default
work=$PWD/build/bench
rm -rf "$work"
mkdir -p "$work/split" "$work/weld" "$work/catsplit" "$work/catweld"

echo "Generating $count textures of 256 x 256, sub-type 1..."
names=()
for i in $(seq -w 1 "$count"); do names+=("t$i"); done
for name in "${names[@]}"; do "$bin/tests/texgen" tex 1 256 256 "$work/split/$name.tex"; done
(cd "$work/split" && "$bin/skinsplit" "${names[@]/%/.tex}" </dev/null >/dev/null)
for name in "${names[@]}"; do
  mkdir -p "$work/weld/$name"
  cp "$work/split/tga/$name.pal" "$work/weld/$name/$name.pal"
  cp "$work/split/tga/$name.tga" "$work/weld/$name/${name}_h.tga"
  "$bin/tests/texgen" shrink "$work/split/tga/$name.tga" 2 "$work/weld/$name/${name}_m.tga"
  "$bin/tests/texgen" shrink "$work/split/tga/$name.tga" 4 "$work/weld/$name/${name}_l.tga"
done

# Prints the nanoseconds one run of the command takes.
time_once() {
  local start end
  start=$(date +%s%N)
  "$@" >/dev/null
  end=$(date +%s%N)
  echo $((end - start))
}

# Runs a command $runs times; prints "median min max" in milliseconds.
measure() {
  local times=()
  for _ in $(seq 1 "$runs"); do times+=("$(time_once "$@")"); done
  printf '%s\n' "${times[@]}" | sort -g |
    awk '{t[NR]=$1/1e6} END {m=(NR%2)?t[(NR+1)/2]:(t[NR/2]+t[NR/2+1])/2; printf "%.1f %.1f %.1f\n", m, t[1], t[NR]}'
}

split_all() { (cd "$work/split" && "$bin/skinsplit" "${names[@]/%/.tex}" </dev/null); }
weld_all() { (cd "$work/weld" && "$bin/skinweld" "${names[@]}" </dev/null); }
cat_split() {
  for name in "${names[@]}"; do cat "$work/split/$name.tex" >"$work/catsplit/$name.tga"; done
}
cat_weld() {
  for name in "${names[@]}"; do
    cat "$work/weld/$name/$name.pal" "$work/weld/$name/${name}"_[hml].tga >"$work/catweld/$name.tex"
  done
}

printf '%-34s %10s %10s %10s\n' "$count textures, $runs runs" "median ms" "min ms" "max ms"
for job in split_all cat_split weld_all cat_weld; do
  read -r median low high < <(measure "$job")
  printf '%-34s %10s %10s %10s\n' "$job" "$median" "$low" "$high"
done
