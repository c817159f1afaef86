#!/usr/bin/env python3
"""executemany of N three-column rows through the Python driver, against a server this script
starts on SQLite (or on a PostgreSQL database given by --pg-lines). Prints the wall-clock time
of each round and their median. Wall-clock figures on a shared machine are noisy: run the
drivers to compare one after the other, several rounds each.

    python3 bench/peers/executemany.py --server-bin build/bin/velmora --driver clients/python
"""

import argparse
import os
import pathlib
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_server(program, folder, database_lines):
    port = free_port()
    (folder / "Upload").mkdir()
    (folder / "CONFIG.CFG").write_bytes(
        ("[CONFIG]\r\nSVROPENPORT=%d\r\n" % port).encode())
    (folder / "DataBase.CFG").write_bytes(("\r\n".join(database_lines) + "\r\n").encode())
    out = open(folder / ".server.out", "wb")
    process = subprocess.Popen([program, "--headless", "--app-dir", str(folder)], stdout=out,
                               stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
    until = time.monotonic() + 60
    while True:
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return process, port
        except OSError:
            if process.poll() is not None or time.monotonic() > until:
                process.kill()
                sys.exit("the server did not start")
            time.sleep(0.1)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--server-bin", required=True)
    parser.add_argument("--driver", required=True, help="the folder holding the velmora package")
    parser.add_argument("--rows", type=int, default=10_000)
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--pg-lines", help="DataBase.CFG lines for PostgreSQL, joined by ';'")
    args = parser.parse_args()
    sys.path.insert(0, os.path.abspath(args.driver))
    import velmora  # the driver under test

    with tempfile.TemporaryDirectory() as tmp:
        folder = pathlib.Path(tmp)
        lines = (args.pg_lines.split(";") if args.pg_lines else
                 ["DriverID=SQLite", "Database=%s" % (folder / "bench.db"), "CreateDatabase=Yes"])
        process, port = start_server(args.server_bin, folder, lines)
        try:
            conn = velmora.connect("127.0.0.1", port, "admin", "velmo", timeout=600)
            cur = conn.cursor()
            rows = [(i, "name %d" % i, i * 0.5) for i in range(args.rows)]
            times = []
            for r in range(args.rounds):
                table = "bench_many_%d_%d" % (os.getpid(), r)
                cur.execute("CREATE TABLE %s (id INTEGER, name VARCHAR(40), price FLOAT)" % table)
                start = time.perf_counter()
                cur.executemany("INSERT INTO %s VALUES (?, ?, ?)" % table, rows)
                times.append(time.perf_counter() - start)
                cur.execute("SELECT COUNT(*) FROM %s" % table)
                assert cur.fetchall() == [(args.rows,)]
                cur.execute("DROP TABLE %s" % table)
                print("round %d: %.3f s" % (r + 1, times[-1]), flush=True)
            print("median of %d: %.3f s (min %.3f, max %.3f)"
                  % (len(times), statistics.median(times), min(times), max(times)))
            conn.close()
        finally:
            process.send_signal(signal.SIGTERM)
            process.wait(timeout=60)


if __name__ == "__main__":
    main()
