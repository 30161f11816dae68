#!/usr/bin/env bash
# A real Prometheus scrapes kestrel-exporter, over the counter library over
# NVML with the fake NVML behind it, every second; its query API must then
# show the values the fake was scripted with, and the target up.
# usage: prometheus_scrape.sh EXPORTER NVPMAPI_DIR FAKE_NVML_DIR SCRIPT
# Exit 0 when it does, 1 when it does not, 77 when prometheus is missing.
set -uo pipefail
exporter=$1 nvpmapi=$2 fake=$3 script=$4
command -v prometheus >/dev/null || { echo "prometheus is not installed"; exit 77; }
work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

LD_LIBRARY_PATH=$nvpmapi:$fake KESTREL_NVML_SCRIPT=$script \
  "$exporter" --web.listen-address 127.0.0.1:0 2>"$work/exporter.log" &
pids+=($!)
for _ in $(seq 100); do
  port=$(grep -o 'msg="Listening on" address=127.0.0.1:[0-9]*' "$work/exporter.log" | cut -d: -f2)
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the exporter did not start:"; cat "$work/exporter.log"; exit 1; }

cat >"$work/prometheus.yml" <<YAML
global:
  scrape_interval: 1s
  evaluation_interval: 1s
scrape_configs:
  - job_name: kestrel
    static_configs:
      - targets: ['127.0.0.1:$port']
YAML
# A free port for Prometheus: another try when the one picked is taken.
for _ in 1 2 3 4 5; do
  web=$((20000 + RANDOM % 40000))
  prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
    --web.listen-address="127.0.0.1:$web" >"$work/prometheus.log" 2>&1 &
  pid=$!
  for _ in $(seq 100); do
    curl -sf "http://127.0.0.1:$web/-/ready" >/dev/null && break
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.2
  done
  kill -0 "$pid" 2>/dev/null && { pids+=("$pid"); break; }
done
curl -sf "http://127.0.0.1:$web/-/ready" >/dev/null ||
  { echo "prometheus did not start:"; tail -5 "$work/prometheus.log"; exit 1; }

query() { curl -sfG "http://127.0.0.1:$web/api/v1/query" --data-urlencode "query=$1"; }
# The value Prometheus holds for QUERY, as its API writes it ("300").
holds() { query "$1" | grep -qE "\"value\":\[[0-9.]+,\"$2\"\]"; }
for _ in $(seq 60); do
  if holds 'up{job="kestrel"}' 1 && holds 'kestrel_power_watts{gpu="1"}' 300 &&
     holds 'kestrel_temperature_celsius{gpu="0"}' 35 &&
     holds 'kestrel_memory_total_bytes{gpu="0"}' 25769803776 &&
     holds 'kestrel_exporter_build_info' 1; then
    echo "prometheus shows the scripted values after $(query 'count_over_time(kestrel_up[5m])' |
      grep -oE '"[0-9]+"\]' | tr -dc 0-9) scrapes"
    exit 0
  fi
  sleep 0.5
done
echo "prometheus does not show the scripted values:"
query 'kestrel_power_watts'; echo
query 'up'; echo
tail -5 "$work/prometheus.log"
exit 1
