#!/usr/bin/env python3
"""Starts device simulators for Windows tests that run under Wine.

A test under Wine can't start a Linux program, so it asks this launcher through a shared
folder (see SimulatorProcessLauncher.h): a file "<name>.args" holds "start" and the
simulator's arguments, one a line, or "stop". The launcher stops the simulator it runs,
starts the new one with the Windows paths among the arguments translated to Linux paths
(through the Wine prefix's drive links) and its pty behind --link, which a COM port of the
prefix points at, and answers in "<name>.answer": "port COMn", "stopped" or "error ...".

    simulator-launcher.py --folder DIR --simulator PATH --prefix WINEPREFIX --link PATH --port COMn
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import time

windows_path = re.compile(r"^([A-Za-z]):[\\/](.*)$")


def to_linux(argument, prefix):
    match = windows_path.match(argument)
    if not match:
        return argument
    drive, rest = match.group(1).lower(), match.group(2).replace("\\", "/")
    return os.path.join(prefix, "dosdevices", drive + ":", rest)


class Launcher:
    def __init__(self, options):
        self.options = options
        self.process = None

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            self.process = None

    def start(self, arguments):
        self.stop()
        command = [self.options.simulator, "--link", self.options.link]
        command += [to_linux(a, self.options.prefix) for a in arguments]
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, stderr=sys.stderr, text=True)
        line = self.process.stdout.readline().strip()
        if not line:
            self.process.wait()
            self.process = None
            return "error the simulator did not start: " + " ".join(command)
        return "port " + self.options.port

    def handle(self, request):
        lines = [line for line in request.read_text().splitlines()]
        if lines and lines[0] == "start":
            return self.start(lines[1:])
        if lines and lines[0] == "stop":
            self.stop()
            return "stopped"
        return "error unknown request"


def main():
    parser = argparse.ArgumentParser()
    for option in ("--folder", "--simulator", "--prefix", "--link", "--port"):
        parser.add_argument(option, required=True)
    options = parser.parse_args()

    launcher = Launcher(options)
    running = True

    def finish(*_):
        nonlocal running
        running = False

    signal.signal(signal.SIGTERM, finish)
    signal.signal(signal.SIGINT, finish)

    from pathlib import Path
    folder = Path(options.folder)
    while running:
        for request in sorted(folder.glob("*.args")):
            answer = launcher.handle(request)
            request.unlink()
            partial = request.with_suffix(".partial-answer")
            partial.write_text(answer)
            partial.rename(request.with_suffix(".answer"))
        time.sleep(0.02)
    launcher.stop()


if __name__ == "__main__":
    main()
