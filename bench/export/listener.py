#!/usr/bin/python3
"""A warm LibreOffice listener, as conversion servers run it, for pagelift-bench.

    listener.py PROFILE_FOLDER QUALITY

Starts `soffice --headless --accept=pipe,...` in a profile of its own and connects to
it over UNO (Debian's python3-uno). Then it reads orders from standard input, one a
line, fields separated by tabs:

    convert OUT_FOLDER DOCUMENT...

and converts each document in turn: load it, export it as PDF (writer_pdf_Export),
close it, then `pdftoppm -jpeg -r 96 -jpegopt quality=QUALITY` on that PDF into
OUT_FOLDER. It answers each order with one line, "done" or "error: WHY". It prints
"ready" once the office answers, and ends the office when its input closes or when
it is told to end (SIGTERM), so that it leaves no process behind.
"""

import os
import signal
import subprocess
import sys
import time

import uno
from com.sun.star.beans import PropertyValue
from com.sun.star.connection import NoConnectException

START_LIMIT_S = 120
STOP_LIMIT_S = 30


def properties(**values):
    result = []
    for name, value in values.items():
        item = PropertyValue()
        item.Name = name
        item.Value = value
        result.append(item)
    return tuple(result)


def file_url(path):
    return uno.systemPathToFileUrl(os.path.abspath(path))


class Listener:
    def __init__(self, profile, quality):
        self.quality = quality
        self.pipe = "pagelift-bench-%d" % os.getpid()
        # A session of its own, so that the office's whole process group can be ended
        # at once: soffice is a script that starts oosplash, which starts soffice.bin.
        self.office = subprocess.Popen(
            [
                "soffice",
                "--headless",
                "--invisible",
                "--nologo",
                "--norestore",
                "--nodefault",
                "--nolockcheck",
                "-env:UserInstallation=" + file_url(profile),
                "--accept=pipe,name=%s;urp;StarOffice.ComponentContext" % self.pipe,
            ],
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
            start_new_session=True,
        )
        self.desktop = None

    def connect(self):
        local = uno.getComponentContext()
        resolver = local.ServiceManager.createInstanceWithContext(
            "com.sun.star.bridge.UnoUrlResolver", local
        )
        url = "uno:pipe,name=%s;urp;StarOffice.ComponentContext" % self.pipe
        deadline = time.monotonic() + START_LIMIT_S
        while True:
            try:
                context = resolver.resolve(url)
                break
            except NoConnectException:
                if self.office.poll() is not None or time.monotonic() > deadline:
                    raise RuntimeError("the office did not start")
                time.sleep(0.05)
        self.desktop = context.ServiceManager.createInstanceWithContext(
            "com.sun.star.frame.Desktop", context
        )

    def convert(self, out, document):
        stem = os.path.splitext(os.path.basename(document))[0]
        pdf = os.path.join(out, stem + ".pdf")
        loaded = self.desktop.loadComponentFromURL(
            file_url(document), "_blank", 0, properties(Hidden=True, ReadOnly=True)
        )
        if loaded is None:
            raise RuntimeError("cannot open " + document)
        try:
            loaded.storeToURL(file_url(pdf), properties(FilterName="writer_pdf_Export"))
        finally:
            loaded.close(True)
        subprocess.run(
            [
                "pdftoppm",
                "-jpeg",
                "-r",
                "96",
                "-jpegopt",
                "quality=%d" % self.quality,
                pdf,
                os.path.join(out, stem),
            ],
            check=True,
        )

    def stop(self):
        if self.office.poll() is None and self.desktop is not None:
            try:
                self.desktop.terminate()
            except Exception:
                pass  # the office may have gone meanwhile; it is killed below
            try:
                self.office.wait(STOP_LIMIT_S)
            except subprocess.TimeoutExpired:
                pass
        # oosplash may end before soffice.bin: whatever is left of the group goes.
        try:
            os.killpg(self.office.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        if self.office.poll() is None:
            self.office.wait()


def main():
    if len(sys.argv) != 3:
        sys.stderr.write("usage: listener.py PROFILE_FOLDER QUALITY\n")
        return 2
    # Told to end: leave through the same door as at the end of the input.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    listener = Listener(sys.argv[1], int(sys.argv[2]))
    try:
        listener.connect()
        print("ready", flush=True)
        for line in sys.stdin:
            fields = line.rstrip("\n").split("\t")
            if len(fields) < 2 or fields[0] != "convert":
                print("error: unknown order", flush=True)
                continue
            out, documents = fields[1], fields[2:]
            os.makedirs(out, exist_ok=True)
            failures = []
            for document in documents:
                try:
                    listener.convert(out, document)
                except Exception as error:  # one document's failure, reported, not fatal
                    failures.append("%s: %s" % (os.path.basename(document), error))
            print("error: " + "; ".join(failures) if failures else "done", flush=True)
    finally:
        listener.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
