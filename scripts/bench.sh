#!/bin/bash
# Builds the benchmarks of the portable core (the bench target of the native
# tree, optimised and without sanitizers) and prints one table: each
# benchmark's time per run and throughput, and how many times slower it is
# than its floor, a plain memchr split of the same bytes into CR LF lines.
# As root it then times a check of a 5000-message Dovecot mailbox by
# corvina.exe under Wine beside Python's poplib, in clear text and over TLS
# on 995, the TLS handshake, and adds the program's footprint
# (tests/bench/check_under_wine.py). CORVINA_SOAK_CHECKS=n adds n checks in a
# row against a changing mailbox (the soak). Arguments go to the benchmark
# program (e.g. --benchmark_filter=check).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build"

[ -f "$build/CMakeCache.txt" ] || cmake -S "$root" -B "$build" >/dev/null
cmake --build "$build" --target bench windows -j"$(nproc)" >/dev/null
results=$(mktemp)
"$build/tests/bench/bench" --benchmark_format=json --benchmark_out="$results" \
    --benchmark_out_format=json "$@" >/dev/null

checks=$(mktemp)
trap 'rm -f "$results" "$checks"' EXIT
if [ "$(id -u)" = 0 ]; then
    windows="$build/windows"
    # Its Dovecot on 127.0.0.1:110 of a network namespace of its own.
    CORVINA_EXE="$windows/corvina.exe" TRAYPROBE_EXE="$windows/tests/e2e/trayprobe.exe" \
        WINE_RUN="$root/cmake/wine-run.sh" E2E_WORK_DIR="$windows/tests/e2e/work-bench" \
        E2E_NETNS=bench PYTHONPATH="$root/tests/e2e" \
        unshare --net sh -c 'ip link set lo up && exec python3 "$0"' \
        "$root/tests/bench/check_under_wine.py" 2>/dev/null | tail -n 1 >"$checks"
fi

python3 - "$results" "$checks" <<'PY'
import json, sys
runs = {b["name"]: b for b in json.load(open(sys.argv[1]))["benchmarks"]}
def seconds(b):
    return b["real_time"] * {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
def shown(t):
    for unit, scale in (("s", 1.0), ("ms", 1e-3), ("us", 1e-6)):
        if t >= scale:
            return f"{t / scale:.3g} {unit}"
    return f"{t / 1e-9:.3g} ns"
print(f"{'benchmark':<24} {'time':>10} {'throughput':>13} {'floor':>10} {'x floor':>8}")
for name, b in runs.items():
    if name.startswith("floor/"):
        continue
    if b.get("error_occurred"):
        print(f"{name:<24} failed: {b.get('error_message', '')}")
        continue
    floor = runs.get("floor/" + name)
    rate = b.get("bytes_per_second", 0) / 1e6
    ratio = seconds(b) / seconds(floor) if floor else None
    ratio = "-" if ratio is None else f"{ratio:.1f}" if ratio < 10 else f"{ratio:.0f}"
    floor_time = shown(seconds(floor)) if floor else "-"
    print(f"{name:<24} {shown(seconds(b)):>10} {rate:>9.1f} MB/s {floor_time:>10} {ratio:>8}")

text = open(sys.argv[2]).read().strip()
if text:
    e2e = json.loads(text)
    corvina, poplib = e2e["check_5000_corvina_s"], e2e["check_5000_poplib_s"]
    print(f"{'check_5000_under_wine':<24} {shown(corvina):>10} {'':>13} {shown(poplib):>10} "
          f"{corvina / poplib:>8.1f}   (floor: poplib, STAT LIST UIDL QUIT)")
    corvina, poplib = e2e["check_headers_corvina_s"], e2e["check_headers_poplib_s"]
    print(f"{'check_10_headers':<24} {shown(corvina):>10} {'':>13} {shown(poplib):>10} "
          f"{corvina / poplib:>8.1f}   (floor: poplib, STAT UIDL 10 x TOP n 0 QUIT)")
    corvina, poplib = e2e["check_5000_tls_corvina_s"], e2e["check_5000_tls_poplib_s"]
    print(f"{'check_5000_tls_under_wine':<24} {shown(corvina):>10} {'':>13} {shown(poplib):>10} "
          f"{corvina / poplib:>8.1f}   (floor: poplib POP3_SSL on 995)")
    print(f"{'tls_handshake':<24} {shown(e2e['handshake_poplib_s']):>10}   "
          "(poplib POP3_SSL: connect, handshake, greeting)")
    print(f"{'check_empty_tls':<24} {shown(e2e['check_empty_tls_corvina_s']):>10}   "
          "(corvina under Wine: an empty mailbox on 995, handshake included)")
    if "soak_checks" in e2e:
        print(f"soak: {e2e['soak_checks']} checks in a row, each with the right tip and uidl.txt")
    print(f"corvina.exe: {e2e['exe_bytes']} bytes; imports {', '.join(e2e['imports'])}")
    print(f"private memory after 100 checks: {e2e['private_bytes_after_100_checks'] / 2**20:.1f} MiB"
          " (the Wine process, as Linux counts it)")
PY
