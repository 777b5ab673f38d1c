#!/usr/bin/python3
"""A warm LibreOffice listener, as conversion servers run it, for pagelift-bench.

    listener.py PROFILE_FOLDER QUALITY

Starts `soffice --headless --accept=pipe,...` in a profile of its own and connects to
it over UNO (Debian's python3-uno). Then it reads orders from standard input, one a
line, fields separated by tabs:

    convert OUT_FOLDER DOCUMENT...
    png OUT_FOLDER DOCUMENT...
    preview OUT_FOLDER WIDTH DOCUMENT...

and does each document in turn: it loads the document, and for convert and png exports
it as PDF (the kind's own filter: writer_pdf_Export, impress_pdf_Export...), closes it,
then runs `pdftoppm -r 96` on that PDF into OUT_FOLDER, as JPEG at QUALITY
(`-jpeg -jpegopt quality=QUALITY`) or as PNG (`-png`); for preview it exports its first
page as a PNG of WIDTH pixels across, as tall as the page's proportions make it (the
kind's own PNG filter, writer_png_Export...), into OUT_FOLDER/NAME.png, and closes it.
It answers each order with one line, "done" or "error: WHY". It prints "ready" once the
office answers, and ends the office when its input closes or when it is told to end
(SIGTERM), so that it leaves no process behind.
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


# Each kind of document by the service that tells it; a presentation is also a
# drawing, so it is asked first. The office's export filters are named after the kind.
KINDS = (
    ("com.sun.star.presentation.PresentationDocument", "impress"),
    ("com.sun.star.drawing.DrawingDocument", "draw"),
    ("com.sun.star.sheet.SpreadsheetDocument", "calc"),
    ("com.sun.star.text.TextDocument", "writer"),
)


def kind_of(loaded):
    for service, kind in KINDS:
        if loaded.supportsService(service):
            return kind
    raise RuntimeError("not a kind of document the office exports")


def first_page_size(loaded, kind):
    """The first page's width and height, in hundredths of a millimetre."""
    if kind in ("impress", "draw"):
        page = loaded.DrawPages.getByIndex(0)
        return page.Width, page.Height
    if kind == "writer":
        cursor = loaded.CurrentController.getViewCursor()
        cursor.jumpToFirstPage()
        style = loaded.StyleFamilies.getByName("PageStyles").getByName(cursor.PageStyleName)
        return style.Width, style.Height
    raise RuntimeError("no preview of a " + kind + " document")


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

    def load(self, document):
        loaded = self.desktop.loadComponentFromURL(
            file_url(document), "_blank", 0, properties(Hidden=True, ReadOnly=True)
        )
        if loaded is None:
            raise RuntimeError("cannot open " + document)
        return loaded

    def pages(self, out, document, image_format):
        """Every page of the document as an image, through a PDF and pdftoppm."""
        stem = os.path.splitext(os.path.basename(document))[0]
        pdf = os.path.join(out, stem + ".pdf")
        loaded = self.load(document)
        try:
            loaded.storeToURL(
                file_url(pdf), properties(FilterName=kind_of(loaded) + "_pdf_Export")
            )
        finally:
            loaded.close(True)
        if image_format == "png":
            drawing = ["-png"]
        else:
            drawing = ["-jpeg", "-jpegopt", "quality=%d" % self.quality]
        subprocess.run(
            ["pdftoppm"] + drawing + ["-r", "96", pdf, os.path.join(out, stem)], check=True
        )

    def preview(self, out, width, document):
        """The document's first page as a PNG `width` pixels across."""
        stem = os.path.splitext(os.path.basename(document))[0]
        loaded = self.load(document)
        try:
            kind = kind_of(loaded)
            page_width, page_height = first_page_size(loaded, kind)
            height = max(1, round(width * page_height / page_width))
            loaded.storeToURL(
                file_url(os.path.join(out, stem + ".png")),
                properties(
                    FilterName=kind + "_png_Export",
                    FilterData=uno.Any(
                        "[]com.sun.star.beans.PropertyValue",
                        properties(PixelWidth=width, PixelHeight=height),
                    ),
                ),
            )
        finally:
            loaded.close(True)

    def do(self, order, out, arguments):
        """Does one order; the reasons of the documents that failed, if any."""
        if order == "preview":
            width, documents = int(arguments[0]), arguments[1:]
            each = lambda document: self.preview(out, width, document)
        else:
            image_format, documents = ("png" if order == "png" else "jpeg"), arguments
            each = lambda document: self.pages(out, document, image_format)
        failures = []
        for document in documents:
            try:
                each(document)
            except Exception as error:  # one document's failure, reported, not fatal
                failures.append("%s: %s" % (os.path.basename(document), error))
        return failures

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
            order = fields[0]
            if order not in ("convert", "png", "preview") or len(fields) < (
                3 if order == "preview" else 2
            ):
                print("error: unknown order", flush=True)
                continue
            out = fields[1]
            os.makedirs(out, exist_ok=True)
            failures = listener.do(order, out, fields[2:])
            print("error: " + "; ".join(failures) if failures else "done", flush=True)
    finally:
        listener.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
