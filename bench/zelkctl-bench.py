#!/usr/bin/env python3
"""Figures for zelkctl against zelksim on ptys: start-up time and peak memory, a read at
9600 bit/s against the floor that the protocol's own waits set, eight modules written
at once against one; then through ser2net on loopback: a read through RFC 2217 beside the
same read on the local pty, and four network ports written at once against one. Prints the figures beside their targets and fails nothing: a shared
machine's load moves them, so they are for a person to read, not for a test to assert.

    bench/zelkctl-bench.py BUILD_DIR
"""
import os
import resource
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "build")
zelkctl = os.path.join(build, "zelkctl")
zelksim = os.path.join(build, "zelksim")
# Debian installs it in /usr/sbin, which a user's PATH may not hold.
ser2net = shutil.which("ser2net") or "/usr/sbin/ser2net"


def run(arguments):
    """Runs zelkctl; returns (seconds, exit status)."""
    start = time.monotonic()
    status = subprocess.run([zelkctl] + arguments, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL).returncode
    return time.monotonic() - start, status


def start_simulators(count, directory):
    simulators, links = [], []
    for number in range(count):
        link = os.path.join(directory, f"zelk{number}")
        simulators.append(subprocess.Popen([zelksim, "--link", link],
                                           stdout=subprocess.DEVNULL))
        links.append(link)
    for link in links:
        for _ in range(500):
            if os.path.exists(link):
                break
            time.sleep(0.01)
    return simulators, links


def written_at_once(ports):
    """Seconds to write the first port alone and every port at once, medians of three."""
    write = ["write", "-s", "T1b", "--set", "S111=5", "--ids", "1"]
    one = statistics.median(run(write + ["-p", ports[0]])[0] for _ in range(3))
    every = [word for port in ports for word in ("-p", port)]
    return one, statistics.median(run(write + every)[0] for _ in range(3))


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def listening(port):
    """Whether something listens on 127.0.0.1:port, as /proc/net/tcp says."""
    with open("/proc/net/tcp") as table:
        return any(fields[1] == f"0100007F:{port:04X}" and fields[3] == "0A"
                   for fields in (row.split() for row in table.readlines()[1:]))


def start_ser2net(links, directory):
    """ser2net in the foreground serving each link with RFC 2217; returns it and the names."""
    config = os.path.join(directory, "ser2net.yaml")
    ports = [free_port() for _ in links]
    with open(config, "w") as out:
        out.write("%YAML 1.1\n---\n")
        for number, (link, port) in enumerate(zip(links, ports)):
            out.write(f"connection: &port{number}\n"
                      f"  accepter: telnet(rfc2217),tcp,127.0.0.1,{port}\n"
                      f"  connector: serialdev,{os.path.realpath(link)},9600n81,local\n")
    server = subprocess.Popen([ser2net, "-d", "-u", "-c", config],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(500):
        if all(listening(port) for port in ports):
            break
        time.sleep(0.01)
    return server, [f"rfc2217://127.0.0.1:{port}" for port in ports]


def network(directory):
    """A read through RFC 2217 against the same on the pty, in pairs so that the machine's
    load moves both alike; four network ports written at once against one."""
    simulators, links = start_simulators(4, directory)
    server, names = start_ser2net(links, directory)
    try:
        read = ["read", "-s", "T1b", "-p"]
        run(read + [names[0]])
        differences = []
        for _ in range(9):
            local = run(read + [links[0]])[0]
            differences.append(run(read + [names[0]])[0] - local)
        line("read through RFC 2217, over the local pty",
             f"{statistics.median(differences) * 1000:.1f} ms", "at most 5 ms")
        one, four = written_at_once(names)
        line("4 network ports written at once, against one", f"{four / one:.2f} x",
             "within 1.05 x")
    finally:
        server.terminate()
        server.wait()
        for simulator in simulators:
            simulator.terminate()
            simulator.wait()


def line(what, figure, target):
    print(f"  {what:<44} {figure:>12}   target {target}")


def main():
    print("zelkctl benchmark (median of several runs; a loaded machine reads slower)")

    # Start-up: a command that needs no port, so that only loading and parsing count.
    times = [run(["--version"])[0] for _ in range(20)]
    line("start-up (zelkctl --version)", f"{statistics.median(times) * 1000:.1f} ms",
         "under 50 ms")
    before = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
    with tempfile.TemporaryDirectory() as directory:
        simulators, links = start_simulators(8, directory)
        try:
            run(["read", "-p", links[0], "-s", "T1b"])
            peak = resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss
            line("peak RSS of a read", f"{max(peak, before) / 1024:.1f} MB", "under 20 MB")

            # At 9600 bit/s zelksim answers 10 ms after each command. The read waits three
            # guard times of 0.1 s and takes the escape's answer "\r\n>" one character per
            # 0.05 s poll, so the prompt comes at the third; it takes the whole list at its
            # second collection poll and ends with that poll's wait; closing waits four
            # characters' time and 0.05 s for the leave command to leave.
            floor = 3 * 0.1 + 3 * 0.05 + 2 * 0.05 + 40 / 9600 + 0.05
            reads = [run(["read", "-p", links[0], "-s", "T1b"])[0] for _ in range(5)]
            line("read at 9600 bit/s, above its floor",
                 f"{(statistics.median(reads) - floor) * 1000:.1f} ms", "within 20 ms")

            one, eight = written_at_once(links)
            line("8 modules written at once, against one", f"{eight / one:.2f} x",
                 "within 1.3 x")
            line("  one module", f"{one:.3f} s", "")
            line("  eight modules", f"{eight:.3f} s", "")
        finally:
            for simulator in simulators:
                simulator.terminate()
                simulator.wait()
        network(directory)


if __name__ == "__main__":
    main()
