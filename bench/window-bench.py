#!/usr/bin/env python3
"""The window's start-up against the floor Qt itself sets: ZelkConfig against a bare Qt 6
window with the same kinds and number of widgets, which this script generates from the
panel file and builds with the same compiler, Qt and build type. Both start on a virtual
display of their own (Xvfb, no window manager), in turns, so that a change in the
machine's load falls on both alike; each pair of runs gives a ratio, and the median ratio
is the figure. Prints and fails nothing: a shared machine's load moves the times.

    bench/window-bench.py BUILD_DIR [--runs N] [--program PATH]

Two instants are taken for each start, from the exec: when the window is mapped, and when
the program first paints into it (the X DAMAGE extension reports the first drawing).
--program measures another build of ZelkConfig (one of an older commit, say) in place of
BUILD_DIR's.
"""
import argparse
import ctypes
import ctypes.util
import json
import os
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PANEL_FILE = os.path.join(HERE, "..", "window", "panel", "ZelkConfig_en.uir")


# --- The bare window -------------------------------------------------------------------

def cpp_string(text):
    return json.dumps(text, ensure_ascii=False)


ALIGNMENTS = {"left": "Qt::AlignLeft", "center": "Qt::AlignHCenter", "right": "Qt::AlignRight"}
FRAME_STYLES = {"raised": "QFrame::Panel | QFrame::Raised", "sunken": "QFrame::Panel | QFrame::Sunken",
                "etched": "QFrame::Box | QFrame::Sunken", "flat": "QFrame::Box | QFrame::Plain"}


def add_colour(add, name, role, rgb):
    add("    {")
    add(f"        QPalette palette = {name}->palette();")
    add(f"        palette.setColor(QPalette::{role}, QColor({rgb[0]}, {rgb[1]}, {rgb[2]}));")
    add(f"        {name}->setPalette(palette);")
    add("    }")


def bare_window_source(panel):
    """C++ for one top-level QWidget holding a widget of the same Qt class, text, font and
    place for every control and label of the panel, texts aligned and coloured and frames
    drawn as the panel has them, and nothing else: no panel file, no window palette, no
    icon, no scroll area, no checks, no lists refilled for a product series."""
    lines = []
    add = lines.append
    for number, control in enumerate(panel["controls"]):
        top, left, bottom, right = control["rect"]
        name = f"w{number}"
        kind = control["kind"]
        if kind == "numeric":
            add(f"    auto* {name} = new QSpinBox(&window);")
            add(f"    {name}->setRange({control['min']}, {control['max']});")
            add(f"    {name}->setValue({control['value']});")
        elif kind == "ring":
            add(f"    auto* {name} = new QComboBox(&window);")
            for item in control["items"]:
                add(f"    {name}->addItem(QString::fromUtf8({cpp_string(item['text'])}), "
                    f"{item['value']});")
        elif kind in ("commandButton", "toggleButton"):
            text = control.get("text", control.get("offText", ""))
            add(f"    auto* {name} = new QPushButton(QString::fromUtf8({cpp_string(text)}), "
                f"&window);")
            if kind == "toggleButton":
                add(f"    {name}->setCheckable(true);")
        elif kind == "textMessage":
            add(f"    auto* {name} = new QLabel(QString::fromUtf8({cpp_string(control['text'])}), "
                f"&window);")
            # The texts keep their fonts: a heading drawn large and bold is what any
            # window showing this panel pays for.
            add("    {")
            add(f"        QFont font = {name}->font();")
            if "fontPixels" in control:
                add(f"        font.setPixelSize({control['fontPixels']});")
            add(f"        font.setBold({str(control.get('bold', False)).lower()});")
            add(f"        font.setItalic({str(control.get('italic', False)).lower()});")
            add(f"        {name}->setFont(font);")
            add("    }")
            add(f"    {name}->setAlignment({ALIGNMENTS[control.get('align', 'left')]} | "
                "Qt::AlignVCenter);")
            if "color" in control:
                add_colour(add, name, "WindowText", control["color"])
        elif kind == "decoration":
            # So do the frames: their style, line width and fill are the panel's.
            add(f"    auto* {name} = new QFrame(&window);")
            add(f"    {name}->setFrameStyle({FRAME_STYLES[control.get('style', 'raised')]});")
            add(f"    {name}->setLineWidth({control.get('lineWidth', 1)});")
            if "fill" in control:
                add_colour(add, name, "Window", control["fill"])
                add(f"    {name}->setAutoFillBackground(true);")
        else:  # the LED: a plain widget
            add(f"    auto* {name} = new QWidget(&window);")
        add(f"    {name}->setGeometry({left}, {top}, {right - left}, {bottom - top});")
        if not control.get("visible", True):
            add(f"    {name}->hide();")
        if "label" in control:
            add(f"    auto* {name}l = new QLabel(QString::fromUtf8({cpp_string(control['label'])}), "
                f"&window);")
            add(f"    {name}l->setGeometry({max(left - 120, 0)}, {top}, 114, {bottom - top});")
            if not control.get("visible", True):
                add(f"    {name}l->hide();")
    body = "\n".join(lines)
    return f"""// Generated by bench/window-bench.py from the panel file.
#include <QApplication>
#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QSpinBox>
#include <QWidget>

int main(int argc, char** argv) {{
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QString::fromUtf8({cpp_string(panel["title"])}));
    window.setFixedSize({panel["width"]}, {panel["height"]});
    QFont font = window.font();
    font.setPixelSize({panel.get("fontPixels", 12)});
    window.setFont(font);
{body}
    window.move({panel.get("left", 0)}, {panel.get("top", 0)});
    window.show();
    return application.exec();
}}
"""


def build_bare_window(build, directory):
    with open(PANEL_FILE, encoding="utf-8") as file:
        panel = json.load(file)["panels"][0]
    with open(os.path.join(directory, "bare_window.cpp"), "w", encoding="utf-8") as file:
        file.write(bare_window_source(panel))
    with open(os.path.join(directory, "CMakeLists.txt"), "w", encoding="utf-8") as file:
        file.write("cmake_minimum_required(VERSION 3.25)\n"
                   "project(BareWindow LANGUAGES CXX)\n"
                   "set(CMAKE_CXX_STANDARD 20)\n"
                   "find_package(Qt6 REQUIRED COMPONENTS Widgets)\n"
                   "add_executable(bare_window bare_window.cpp)\n"
                   "target_link_libraries(bare_window PRIVATE Qt6::Widgets)\n")
    build_type = "Debug"
    with open(os.path.join(build, "CMakeCache.txt"), encoding="utf-8") as cache:
        for line in cache:
            if line.startswith("CMAKE_BUILD_TYPE:"):
                build_type = line.split("=", 1)[1].strip()
    out = os.path.join(directory, "build")
    quiet = {"stdout": subprocess.DEVNULL, "stderr": subprocess.STDOUT}
    subprocess.run(["cmake", "-S", directory, "-B", out, f"-DCMAKE_BUILD_TYPE={build_type}"],
                   check=True, **quiet)
    subprocess.run(["cmake", "--build", out], check=True, **quiet)
    return os.path.join(out, "bare_window")


# --- Watching the display --------------------------------------------------------------

CREATE_NOTIFY, MAP_NOTIFY = 16, 19
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
DAMAGE_REPORT_NON_EMPTY = 3


class XEvent(ctypes.Structure):
    # type, serial, send_event, display, then (for these events) two windows: CreateNotify
    # has parent and window, MapNotify event and window, DamageNotify the drawable first.
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("first", ctypes.c_ulong), ("second", ctypes.c_ulong),
                ("pad", ctypes.c_long * 18)]


class Display:
    """The events of the virtual display that tell when a new top-level window is mapped
    and when its program first draws into it."""

    def __init__(self, name):
        self.x = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        self.damage = ctypes.CDLL(ctypes.util.find_library("Xdamage") or "libXdamage.so.1")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        for function in ("XDefaultRootWindow", "XConnectionNumber", "XPending", "XFlush"):
            getattr(self.x, function).argtypes = [ctypes.c_void_p]
        self.x.XDefaultRootWindow.restype = ctypes.c_ulong
        self.x.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        self.x.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(XEvent)]
        self.damage.XDamageQueryExtension.argtypes = [
            ctypes.c_void_p, ctypes.POINTER(ctypes.c_int), ctypes.POINTER(ctypes.c_int)]
        self.damage.XDamageCreate.restype = ctypes.c_ulong
        self.damage.XDamageCreate.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int]
        self.display = self.x.XOpenDisplay(name.encode())
        if not self.display:
            raise RuntimeError(f"cannot open display {name}")
        base, error = ctypes.c_int(), ctypes.c_int()
        if not self.damage.XDamageQueryExtension(self.display, ctypes.byref(base),
                                                 ctypes.byref(error)):
            raise RuntimeError("the display has no DAMAGE extension")
        self.damage_notify = base.value
        self.x.XSelectInput(self.display, self.x.XDefaultRootWindow(self.display),
                            SUBSTRUCTURE_NOTIFY_MASK)
        self.x.XFlush(self.display)
        self.fd = self.x.XConnectionNumber(self.display)

    def events(self, timeout):
        """Yields (instant, type, first, second) until timeout seconds have passed."""
        end = time.monotonic() + timeout
        event = XEvent()
        while True:
            while self.x.XPending(self.display):
                self.x.XNextEvent(self.display, ctypes.byref(event))
                yield time.monotonic(), event.type, event.first, event.second
            left = end - time.monotonic()
            if left <= 0:
                return
            select.select([self.fd], [], [], left)

    def start(self, command, environment):
        """Starts command; returns its process and the seconds from the exec to the map of
        its first window and to the first drawing in it (None when that did not come)."""
        created, mapped, painted = set(), None, None
        start = time.monotonic()
        process = subprocess.Popen(command, env=environment, cwd=tempfile.gettempdir(),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for instant, kind, first, second in self.events(20):
            if kind == CREATE_NOTIFY:
                created.add(second)
                # Asked at once: the window is drawn only after it is mapped and exposed.
                self.damage.XDamageCreate(self.display, second, DAMAGE_REPORT_NON_EMPTY)
                self.x.XFlush(self.display)
            elif kind == MAP_NOTIFY and second in created and mapped is None:
                mapped = (instant - start, second)
            elif kind == self.damage_notify and mapped and first == mapped[1]:
                painted = instant - start
                break
        return process, (mapped[0] if mapped else None), painted

    def drain(self):
        for _ in self.events(0.05):
            pass


# --- The runs --------------------------------------------------------------------------

def start_display(directory):
    display_file = os.path.join(directory, "display")
    with open(display_file, "w") as out:
        server = subprocess.Popen(["Xvfb", "-displayfd", str(out.fileno()), "-screen", "0",
                                   "1280x800x24", "-nolisten", "tcp"],
                                  pass_fds=(out.fileno(),), stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
    # A server left behind would hold the display and whatever it inherited, so one that
    # does not come up in time is stopped before the benchmark gives up.
    for _ in range(200):
        with open(display_file) as file:
            number = file.read().strip()
        if number:
            return server, ":" + number
        time.sleep(0.05)
    server.kill()
    server.wait()
    raise RuntimeError("Xvfb did not start")


def measure(display, command, environment):
    """(exec to mapped, exec to first paint, processor time to then) in seconds. The
    program is stopped at once after its first paint, before it does anything else, so its
    processor time is what the start cost it."""
    process, mapped, painted = display.start(command, environment)
    process.send_signal(signal.SIGTERM)
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = status
    display.drain()
    return mapped, painted, usage.ru_utime + usage.ru_stime


def line(what, figure, target=""):
    print(f"  {what:<36} {figure:>18}   {target}".rstrip())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", nargs="?", default="build")
    parser.add_argument("--runs", type=int, default=61)
    parser.add_argument("--program", help="the ZelkConfig to measure (default BUILD/ZelkConfig)")
    arguments = parser.parse_args()
    build = os.path.abspath(arguments.build)
    program = os.path.abspath(arguments.program or os.path.join(build, "ZelkConfig"))
    if shutil.which("Xvfb") is None:
        print("window benchmark: Xvfb is missing (scripts/install-deps.sh bench)")
        return

    print(f"window start-up, ZelkConfig against a bare Qt window ({arguments.runs} runs of "
          "each in turn; median of the per-run ratios)")
    with tempfile.TemporaryDirectory() as directory:
        bare = build_bare_window(build, directory)
        server, name = start_display(directory)
        environment = dict(os.environ, DISPLAY=name, XDG_RUNTIME_DIR=directory)
        for variable in ("QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "QT_QPA_PLATFORMTHEME"):
            environment.pop(variable, None)
        try:
            display = Display(name)
            # A first start of each fills the system's caches; it is not counted.
            measure(display, [bare], environment)
            measure(display, [program], environment)
            pairs = []
            for run in range(arguments.runs):
                order = [("bare", bare), ("program", program)]
                if run % 2:
                    order.reverse()
                times = {who: measure(display, [path], environment) for who, path in order}
                pairs.append(times)
        finally:
            server.terminate()
            server.wait()

    figures = ((1, "exec to first paint", "target within 1.10 x"),
               (0, "exec to window mapped", ""),
               (2, "processor time to first paint", ""))
    for index, what, target in figures:
        good = [p for p in pairs if p["bare"][index] and p["program"][index]]
        if not good:
            line(what, "not seen")
            continue
        ratio = statistics.median(p["program"][index] / p["bare"][index] for p in good)
        line(what, f"{ratio:.2f} x", target)
        program_ms = statistics.median(p["program"][index] for p in good) * 1000
        bare_ms = statistics.median(p["bare"][index] for p in good) * 1000
        line("  ZelkConfig, bare window", f"{program_ms:.1f}, {bare_ms:.1f} ms")
    missed = sum(1 for p in pairs if not (p["bare"][1] and p["program"][1]))
    if missed:
        line("runs without a first paint seen", f"{missed} of {len(pairs)}")


if __name__ == "__main__":
    main()
