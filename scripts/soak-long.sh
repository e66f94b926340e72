#!/usr/bin/env bash
# The long fault soak: many v38-soak processes at once, each with its own simulator on
# an emulated 9600-baud line, over every model of the line and several seeds. They
# spend their time waiting on the line, so far more run at once than there are cores.
#
#   scripts/soak-long.sh [--transfers N] [--seeds N] [--first-seed N] [--jobs N]
#                        [--models LIST] [--out DIR] [--soak PATH]
#
# N transfers in all (default 20000), split evenly over every model and seed (default
# 8 seeds from 1); --jobs processes at a time (default 48: on two cores, many more
# hold the simulators up, and their late answers show as false failures of every model,
# the plain converters' too). The slowest models start first. Each process's report goes
# to DIR (default a new folder in /tmp); the table at the end gives, per model and
# seed, the transfers, those done, the false successes, the false failures and the
# average time of the reads and writes done. Exit status 1 when any check failed.
set -euo pipefail
cd "$(dirname "$0")/.."

transfers=20000
seeds=8
first_seed=1
jobs=48
out=""
soak=build/debug/tests/soak/v38-soak

# Each model: a name and the soak's options for it. All run at the lock's 9600 baud with
# the client held up now and then.
declare -A model_options=(
    [adversary]="--half-duplex --replay 3 --fault-percent 8 --fault-kinds silence,nak,crc,length,truncate,slow,lag,chatter,twice"
    [replay]="--half-duplex --replay 10 --fault-percent 0"
    [twice]="--fault-percent 8 --fault-kinds twice"
    [think]="--think allowance --fault-percent 0"
    [echo]="--echo --fault-percent 0"
    [usb1]="--rx-batch 1 --chunks --fault-percent 0"
    [usb16]="--rx-batch 16 --fault-percent 0"
    [usb32]="--rx-batch 32 --think allowance --fault-percent 0"
    [mixed]="--echo --rx-batch 16 --chunks --think allowance --half-duplex --replay 2 --fault-percent 4 --fault-kinds silence,nak,crc,truncate,twice,chatter"
)
models="think usb32 replay adversary twice usb16 usb1 mixed echo"

while [[ $# -gt 0 ]]; do
    case "$1" in
    --transfers) transfers=$2 ;;
    --seeds) seeds=$2 ;;
    --first-seed) first_seed=$2 ;;
    --jobs) jobs=$2 ;;
    --models) models=${2//,/ } ;;
    --out) out=$2 ;;
    --soak) soak=$2 ;;
    *)
        sed -n '2,13s/^# \{0,1\}//p' "$0"
        echo "models: ${!model_options[*]}"
        exit 2
        ;;
    esac
    shift 2
done

[[ -x $soak ]] || { echo "no $soak: build the v38-soak target first" >&2; exit 2; }
for model in $models; do
    [[ -n ${model_options[$model]:-} ]] || { echo "unknown model '$model'" >&2; exit 2; }
done
[[ -n $out ]] || out=$(mktemp -d /tmp/v38-soak-long-XXXXXX)
mkdir -p "$out"

runs=()
for model in $models; do
    for ((seed = first_seed; seed < first_seed + seeds; ++seed)); do
        runs+=("$model $seed")
    done
done
per_run=$(((transfers + ${#runs[@]} - 1) / ${#runs[@]}))
echo "soak-long: ${#runs[@]} runs of $per_run transfers ($models; seeds $first_seed to" \
    "$((first_seed + seeds - 1))), $jobs at a time, reports in $out"

run_one() {
    local model=$1 seed=$2 report="$out/$1-$2.txt"
    # shellcheck disable=SC2086 # the model's options are words on purpose
    "$soak" --transfers "$per_run" --seconds 36000 --baud 9600 --seed "$seed" \
        ${model_options[$model]} >"$report" 2>&1 || true
    echo "  $model seed $seed: $(grep -m1 -o 'false_successes=[0-9]*' "$report" || echo 'no summary')"
}
running=0
for run in "${runs[@]}"; do
    read -r model seed <<<"$run"
    run_one "$model" "$seed" &
    if ((++running >= jobs)); then
        wait -n
        ((running--))
    fi
done
wait

# The table: one line per run, then the sums per model.
status=0
printf '\n%-10s %5s %9s %6s %7s %7s %8s %8s\n' model seed transfers "done" "false+" "false-" \
    read_ms write_ms
for model in $models; do
    for ((seed = first_seed; seed < first_seed + seeds; ++seed)); do
        line=$(grep -m1 '^summary ' "$out/$model-$seed.txt" || true)
        if [[ -z $line ]]; then
            printf '%-10s %5s  no summary: see %s\n' "$model" "$seed" "$out/$model-$seed.txt"
            status=1
            continue
        fi
        declare -A f=()
        for pair in $line; do
            [[ $pair == *=* ]] && f[${pair%%=*}]=${pair#*=}
        done
        printf '%-10s %5s %9s %6s %7s %7s %8s %8s\n' "$model" "$seed" "${f[transfers]}" \
            "${f[done]}" "${f[false_successes]}" "${f[false_failures]}" "${f[read_ms]}" \
            "${f[write_ms]}"
        ((f[failed_checks] == 0)) || status=1
    done
done
awk '/^summary / {
        for (i = 2; i <= NF; ++i) { split($i, kv, "="); v[kv[1]] = kv[2] }
        n = FILENAME; sub(/.*\//, "", n); sub(/-[0-9]+\.txt$/, "", n)
        t[n] += v["transfers"]; d[n] += v["done"]; fs[n] += v["false_successes"]
        ff[n] += v["false_failures"]; fc[n] += v["failed_checks"]
    }
    END {
        printf "\n%-10s %9s %7s %7s %7s %7s\n", "model", "transfers", "done", "false+", "false-", "checks"
        for (n in t) {
            printf "%-10s %9d %7d %7d %7d %7d\n", n, t[n], d[n], fs[n], ff[n], fc[n]
            T += t[n]; FS += fs[n]; FF += ff[n]
        }
        printf "all        %9d          %7d %7d\n", T, FS, FF
    }' "$out"/*.txt
exit "$status"
