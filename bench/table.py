"""The measurements behind bench/table.sh; run through that script, which sets up the private
home, the installed add-on and the private session bus this expects in the environment."""

import argparse
import glob
import json
import os
import statistics
import subprocess
import time

REFERENCE_DATE = 978307200.0  # 2001-01-01 in Unix seconds: the epoch of the heartbeat's "updated"


def spawn_ms(command, env):
    """Wall time of one run of `command`, spawned and waited for like the client."""
    start = time.perf_counter_ns()
    subprocess.run(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    return (time.perf_counter_ns() - start) / 1e6


def median(values):
    return statistics.median(values)


def p95(values):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, round(0.95 * (len(ordered) - 1)))]


def processes_of(executable):
    """The pids whose /proc/PID/exe is `executable`."""
    found = []
    for entry in glob.glob("/proc/[0-9]*"):
        try:
            if os.readlink(entry + "/exe") == executable:
                found.append(int(entry[6:]))
        except OSError:
            pass
    return found


def wait_until_gone(executable, seconds=15.0):
    end = time.monotonic() + seconds
    while processes_of(executable) and time.monotonic() < end:
        time.sleep(0.02)


def cpu_ns(pid):
    """CPU time of every thread of `pid` in nanoseconds (schedstat: exact, not clock ticks)."""
    total = 0
    for stat in glob.glob(f"/proc/{pid}/task/*/schedstat"):
        with open(stat, encoding="ascii") as stream:
            total += int(stream.read().split()[0])
    return total


def pss_kib(pid, field="Pss:"):
    with open(f"/proc/{pid}/smaps_rollup", encoding="ascii") as stream:
        for line in stream:
            if line.startswith(field):
                return int(line.split()[1])
    return 0


def main():
    parser = argparse.ArgumentParser()
    for name in ("build", "home", "tree", "tone"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--warm", type=int, default=40)
    parser.add_argument("--cold", type=int, default=7)
    parser.add_argument("--idle", type=float, default=20.0)
    options = parser.parse_args()

    env = dict(os.environ)
    client = os.path.join(options.home, ".local/bin/tonebrook-services")
    host_app = os.path.join(options.build, "Tonebrook.app/Contents/MacOS/Tonebrook")
    host = os.path.realpath(host_app)
    provider = os.path.realpath(os.path.join(
        options.home, "Library/Services/Tonebrook Quick Conversion.service/Contents/MacOS",
        "TonebrookQuickConversion"))
    state = os.path.join(options.home, "Library/Application Support/Tonebrook/FinderConversion",
                         "provider-state.json")
    convert = [client, "wav", options.tone]
    rows = []

    def retire():
        subprocess.run([host_app, "--retire-provider"], env=env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, check=False)
        wait_until_gone(provider)

    # References first, on the same bus and machine.
    true_ms = [spawn_ms(["/bin/true"], env) for _ in range(options.warm)]
    ping = ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus", "/",
            "org.freedesktop.DBus.Peer.Ping"]
    ping_ms = [spawn_ms(ping, env) for _ in range(options.warm)]

    # The client's own start and exit, without a bus call: it refuses an empty command line.
    client_ms = [spawn_ms([client], env) for _ in range(options.warm)]

    # Warm: provider and host running; one call every 0.3 s keeps the host from going idle
    # (it leaves after 2 s) and lets the conversion of the previous call finish.
    spawn_ms(convert, env)
    time.sleep(0.3)
    warm_ms = []
    for _ in range(options.warm):
        warm_ms.append(spawn_ms(convert, env))
        time.sleep(0.3)
    rows.append(("warm Convert, client included: median / p95",
                 f"{median(warm_ms):.1f} / {p95(warm_ms):.1f} ms",
                 f"/bin/true {median(true_ms):.1f} ms; client without a call "
                 f"{median(client_ms):.1f} ms; dbus-send Ping {median(ping_ms):.1f} / "
                 f"{p95(ping_ms):.1f} ms"))

    # Cold: no provider and no host (it leaves after 2 s without work), then one call.
    cold_ms = []
    for _ in range(options.cold):
        retire()
        wait_until_gone(host)
        cold_ms.append(spawn_ms(convert, env))
    rows.append(("cold first call (activation, start, host launch, ack): median",
                 f"{median(cold_ms):.1f} ms (min {min(cold_ms):.1f})",
                 f"warm call {median(warm_ms):.1f} ms"))

    # Provider exec to first heartbeat, by the heartbeat's own wall-clock stamp.
    heartbeat_ms = []
    child = None
    for _ in range(options.cold):
        retire()
        if child:
            child.wait()
        wait_until_gone(host)
        start = time.time()
        child = subprocess.Popen([provider], env=env, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        give_up = time.monotonic() + 10.0
        while time.monotonic() < give_up:
            try:
                with open(state, encoding="utf-8") as stream:
                    record = json.load(stream)
                if record.get("pid") == child.pid:
                    heartbeat_ms.append((record["updated"] + REFERENCE_DATE - start) * 1000.0)
                    break
            except (OSError, ValueError):
                pass
            time.sleep(0.0005)
        else:
            raise SystemExit("the provider wrote no heartbeat within 10 s")
    rows.append(("provider exec to first heartbeat: median",
                 f"{median(heartbeat_ms):.1f} ms (min {min(heartbeat_ms):.1f})",
                 f"/bin/true {median(true_ms):.1f} ms"))

    # Idle: the last provider, alone (no host), after a second to settle.
    time.sleep(1.0)
    sleeper = subprocess.Popen(["sleep", str(options.idle + 5)])
    before = cpu_ns(child.pid)
    time.sleep(options.idle)
    used = cpu_ns(child.pid) - before
    share = used / (options.idle * 1e9) * 100.0
    pss = pss_kib(child.pid)
    pss_anon = pss_kib(child.pid, "Pss_Anon:")
    sleep_pss = pss_kib(sleeper.pid)
    sleeper.kill()
    tick = subprocess.run(
        [os.path.join(options.build, "bench/lifetime_tick_bench"), f"--executable={provider}",
         "--benchmark_filter=IdleTick", "--benchmark_format=json", "--benchmark_min_time=0.5"],
        capture_output=True, text=True, check=True)
    result = json.loads(tick.stdout)["benchmarks"][0]
    tick_cpu_ms = result["cpu_time"] / 1000.0
    hashed = int(result["executable_bytes"])
    rows.append((f"idle provider CPU over {options.idle:g} s, share of one core",
                 f"{share:.2f} %",
                 f"tick bench: {tick_cpu_ms:.3f} ms CPU/tick, {hashed} bytes hashed/tick = "
                 f"{tick_cpu_ms * 5 / 10:.2f} % at 5/s"))
    # Shared library pages count in proportion to the processes that map them at that moment,
    # so the anonymous part (heap, stacks, relocated data) is the steadier figure.
    rows.append(("idle provider PSS (anonymous part)",
                 f"{pss / 1024:.2f} MiB ({pss_anon / 1024:.2f} MiB)",
                 f"idle sleep(1) {sleep_pss / 1024:.2f} MiB"))
    retire()
    child.wait()

    # Inventory hashing against openssl's own SHA-256 on 16 KiB blocks.
    inventory = subprocess.run([os.path.join(options.build, "bench/inventory_bench"), "time",
                                options.tree, "5"], capture_output=True, text=True, check=True)
    inventory_mib = float(inventory.stdout.split()[-2])
    # -elapsed: divided by wall-clock time like inventory_bench, not by CPU time, which on a
    # loaded machine would flatter openssl alone.
    speed = subprocess.run(["openssl", "speed", "-elapsed", "-evp", "sha256", "-bytes", "16384",
                            "-seconds", "3"], capture_output=True, text=True, check=True)
    openssl_kb = float(speed.stdout.strip().splitlines()[-1].split()[-1].rstrip("k"))
    openssl_mib = openssl_kb * 1000.0 / (1 << 20)
    rows.append(("inventory hashing / openssl speed -elapsed -evp sha256 (16 KiB)",
                 f"{inventory_mib / openssl_mib:.2f}",
                 f"{inventory_mib:.0f} MiB/s vs {openssl_mib:.0f} MiB/s"))

    width = max(len(row[0]) for row in rows)
    value_width = max(len(row[1]) for row in rows)
    print(f"| {'figure':<{width}} | {'measured':<{value_width}} | reference, same run |")
    print(f"|{'-' * (width + 2)}|{'-' * (value_width + 2)}|---|")
    for figure, value, reference in rows:
        print(f"| {figure:<{width}} | {value:<{value_width}} | {reference} |")


if __name__ == "__main__":
    main()
