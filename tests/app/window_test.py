#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Runs the desktop program on a real X display and reads what the window system sees.

    window_test.py PIXORAMA
    window_test.py PIXORAMA --close-only SECONDS
    window_test.py PIXORAMA --signals
    window_test.py PIXORAMA --placement

Starts itself again on an X server of its own (Xvfb) and drives the window with xdotool, on
a folder whose first file holds a comment of a million lines (and other texts as long): the
main window's title, the delete question's title and the About box that Help, About opens,
as the window system shows them, then the window must close on Alt+X, on a first start and
on a second one that takes the file's entry from the cache. Prints the seconds from the key
to the end of the process. Then a jump to the end of an uncached folder of 2520 files must
show its cells filled before the folder is done, Enter on the 16-bit sample, with no
imaging application to be found, must open it in pixorama-view, and a picture copied into
the shown folder must show within 2 s without a refresh, and started with a German locale
the delete question and the About box must carry their German titles. `--close-only` makes the one
measurement of the first start, waiting at most SECONDS for the end. `--signals` needs no
display: the program (on the offscreen platform) must end with status 0 on SIGINT and
SIGTERM while it makes thumbnails, leaving no temporary cache file and the old cache in
place. `--placement` starts the program twice with a home folder of its own: the window
moved and resized, the panes dragged and the folder chosen in the first run must come back
in the second, which is started without a file. Exit status 0 when every check passed, 1
otherwise, 77 when Xvfb or xdotool is missing.
"""

import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools"))
from tiff_bytes import ascii_tag, tiff, vexa_header  # noqa: E402

UNDER_X = "PIXORAMA_WINDOW_TEST_X"

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def xdotool(*args):
    done = subprocess.run(["xdotool"] + [str(a) for a in args], capture_output=True, text=True)
    return done.stdout.strip() if done.returncode == 0 else None


def end_process(process):
    """Asks a program that may still run to end, and kills it after 30 s."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def wait_until(predicate, seconds):
    end = time.monotonic() + seconds
    while not predicate() and time.monotonic() < end:
        time.sleep(0.05)
    return predicate()


def window_named(pid, accept):
    """A visible window of the process whose title `accept`s, or None."""
    found = xdotool("search", "--all", "--onlyvisible", "--pid", pid, "--name", ".")
    for window in (found or "").split():
        if accept(xdotool("getwindowname", window) or ""):
            return window
    return None


def make_long_folder(folder):
    """The first file holds 2 MB of "x\n" as its comment, a 2 MB line as its author, and
    as many lines again in its copyright and its parameter format."""
    os.makedirs(folder)
    lines = b"x\n" * (1 << 20)
    with open(os.path.join(folder, "a-long.tif"), "wb") as f:
        f.write(tiff([(8, 6, 8, bytes(48), [
            ascii_tag(270, lines), ascii_tag(315, b"y" * (2 << 20)), ascii_tag(33432, lines),
            vexa_header([(9, b"p\n" * 500000 + b"%.0f\0"), (10, b"MAG\0")])])]))
    with open(os.path.join(folder, "b.tif"), "wb") as f:
        f.write(tiff([(8, 6, 8, bytes(48), [])]))


def close_after_long_file(program, tmp, folder, cap, full):
    """Seconds from Alt+X to the end of the process, None past `cap`. With `full`, the
    titles are checked first, and the cache is waited for."""
    os.makedirs(os.path.join(tmp, "run"), mode=0o700, exist_ok=True)
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=os.path.join(tmp, "run"),
               PIXORAMA_REGISTRY_DIR=os.path.join(tmp, "registry"))
    process = subprocess.Popen([program, os.path.join(folder, "a-long.tif")], env=env)
    try:
        main_title = "Pixorama 1.0 - " + folder
        window = wait_until(lambda: window_named(process.pid,
                                                 lambda n: n.startswith(main_title)), 30)
        if not check(window, "no main window"):
            return None
        xdotool("windowfocus", "--sync", window)
        # The first file is shown once the title names it; the title is the form's own.
        expected = main_title + "/a-long.tif"
        title = lambda: xdotool("getwindowname", window) or ""  # noqa: E731
        wait_until(lambda: title().startswith(expected), 30)
        check(title() == expected or not full, "main window title %r" % title())
        if full:
            check_question_and_about(process, window, "Confirm", "a", "About")
            wait_until(lambda: os.path.exists(os.path.join(folder, "pixorama.dtd")), 30)
        # The pointer over the file's cell puts its comment in the status bar.
        geometry = dict(item.split("=") for item in
                        (xdotool("getwindowgeometry", "--shell", window) or "").split())
        if "X" in geometry:
            xdotool("mousemove", int(geometry["X"]) + 270, int(geometry["Y"]) + 60)
        time.sleep(0.2)
        began = time.monotonic()
        xdotool("key", "alt+x")
        try:
            process.wait(timeout=cap)
        except subprocess.TimeoutExpired:
            return None
        check(process.returncode == 0, "exit status %s" % process.returncode)
        return time.monotonic() - began
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


def check_question_and_about(process, window, question_title, about_key, about_title):
    """Delete asks its question in a box titled `question_title` (Escape answers No); Help
    and `about_key` open the About box titled `about_title`, which Enter (OK) closes."""
    xdotool("key", "Delete")
    box = wait_until(lambda: window_named(process.pid,
                                          lambda n: not n.startswith("Pixorama 1.0")), 10)
    box_title = box and xdotool("getwindowname", box)
    check(box_title == question_title, "delete question's title %r" % box_title)
    if box:
        xdotool("windowfocus", "--sync", box)
        xdotool("key", "Escape")
    xdotool("windowfocus", "--sync", window)
    xdotool("key", "alt+h")
    xdotool("key", about_key)
    about = lambda: window_named(process.pid, lambda n: n == about_title)  # noqa: E731
    if check(wait_until(about, 10), "no About box titled %r" % about_title):
        xdotool("windowfocus", "--sync", about())
        xdotool("key", "Return")
        check(wait_until(lambda: not about(), 10), "the About box stayed open")
    xdotool("windowfocus", "--sync", window)


def check_long_file(program, tmp):
    folder = os.path.join(tmp, "long")
    make_long_folder(folder)
    for start_name in ("first start", "start from the cache"):
        seconds = close_after_long_file(program, tmp, folder, 10, True)
        check(seconds is not None, "%s: the window did not close on Alt+X" % start_name)
        if seconds is not None:
            print("%s: closed %.2f s after Alt+X" % (start_name, seconds))
    check(os.path.exists(os.path.join(folder, "a-long.tif")), "No deleted the file")


def grey_png(width, height):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)
    rows = zlib.compress((b"\0" + bytes(width)) * height, 9)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", rows) + chunk(b"IEND", b"")


def check_jump_to_end(program, tmp):
    """A jump to the end of an uncached folder of 2520 files (full last rows for up to ten
    columns) fills the cells on screen at once, long before the folder is done."""
    try:
        from PIL import Image, ImageGrab
    except ImportError:
        print("jump: not checked, needs python3-pil")
        return
    folder = os.path.join(tmp, "jump")
    os.makedirs(folder)
    grey = 90
    first = os.path.join(folder, "f0000.bmp")
    # A few milliseconds each to make, seconds for the folder.
    Image.new("L", (2000, 1500), grey).save(first, "BMP")
    stamp = time.time() - 3600  # files dated within 2 seconds would not be cached
    os.utime(first, (stamp, stamp))
    for i in range(1, 2520):
        os.link(first, os.path.join(folder, "f%04d.bmp" % i))
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=os.path.join(tmp, "run"),
               PIXORAMA_REGISTRY_DIR=os.path.join(tmp, "registry-jump"))
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
    process = subprocess.Popen([program, first], env=env)
    try:
        main_title = "Pixorama 1.0 - " + folder
        window = wait_until(lambda: window_named(process.pid,
                                                 lambda n: n.startswith(main_title)), 30)
        if not check(window, "jump: no main window"):
            return
        xdotool("windowfocus", "--sync", window)
        wait_until(lambda: (xdotool("getwindowname", window) or "").endswith("f0000.bmp"), 30)
        # A click on the first cell gives the grid the keyboard.
        geometry = dict(item.split("=") for item in
                        (xdotool("getwindowgeometry", "--shell", window) or "").split())
        if not check("X" in geometry, "jump: no window geometry"):
            return
        xdotool("mousemove", int(geometry["X"]) + 270, int(geometry["Y"]) + 60)
        xdotool("click", 1)
        xdotool("key", "ctrl+End")
        wait_until(lambda: (xdotool("getwindowname", window) or "").endswith("f2519.bmp"), 10)
        time.sleep(1.5)
        shot = ImageGrab.grab(xdisplay=None).convert("RGB")
        done = os.path.exists(os.path.join(folder, "pixorama.dtd"))
        # Thumbnails are 112 x 84 of one grey (less the outline over their last column and
        # row); count the cells' worth of that grey.
        cells = sum(1 for p in shot.getdata() if p == (grey, grey, grey)) / (111 * 83)
        print("jump: %.1f cells filled 1.5 s after Ctrl+End, folder done: %s" % (cells, done))
        check(not done, "jump: the whole folder was made before the check")
        check(cells >= 6, "jump: only %.1f cells filled on screen" % cells)
    finally:
        end_process(process)


def check_live_folder(program, tmp):
    """The shown folder is followed without F2: a picture copied into it shows within 2 s,
    and when the folder itself is removed the window moves to its parent."""
    try:
        from PIL import Image, ImageGrab
    except ImportError:
        print("live: not checked, needs python3-pil")
        return
    parent = os.path.join(tmp, "live")
    folder = os.path.join(parent, "shown")
    os.makedirs(folder)
    first = os.path.join(folder, "a.bmp")
    Image.new("L", (400, 300), 90).save(first, "BMP")
    stamp = time.time() - 3600
    os.utime(first, (stamp, stamp))
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=os.path.join(tmp, "run"),
               PIXORAMA_REGISTRY_DIR=os.path.join(tmp, "registry-live"))
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
    process = subprocess.Popen([program, first], env=env)
    try:
        window = wait_until(lambda: window_named(
            process.pid, lambda n: n == "Pixorama 1.0 - " + first), 30)
        if not check(window, "live: no main window showing " + first):
            return
        time.sleep(1)
        grey = 150  # the new picture's grey, which nothing else on screen has
        Image.new("L", (400, 300), grey).save(os.path.join(folder, "b.tmp"), "BMP")
        os.rename(os.path.join(folder, "b.tmp"), os.path.join(folder, "b.bmp"))
        copied = time.monotonic()

        def shown():
            shot = ImageGrab.grab(xdisplay=None).convert("RGB")
            return sum(1 for p in shot.getdata() if p == (grey, grey, grey)) >= 111 * 83 * 0.9

        seen = wait_until(shown, 5)
        print("live: the new picture %s after %.2f s" % ("showed" if seen else "did not show",
                                                         time.monotonic() - copied))
        check(seen and time.monotonic() - copied < 2.5,
              "live: a picture copied into the shown folder did not show within 2 s")
        shutil.rmtree(folder)
        check(wait_until(lambda: xdotool("getwindowname", window) == "Pixorama 1.0 - " + parent, 5),
              "live: the window did not move to the parent of the removed folder")
    finally:
        end_process(process)


def sample_run(program, tmp, name, **extra):
    """A folder `name` with the 16-bit and the VEXA-PSD sample, and the environment of a run
    on it with settings and runtime folders of its own (plus `extra`)."""
    folder = os.path.join(tmp, name)
    os.makedirs(folder)
    samples = os.path.join(os.path.dirname(program), "samples")
    for sample in ("sem-16bit-512x384.tif", "vexa-rings-256x192.psd"):
        shutil.copy(os.path.join(samples, sample), folder)
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=os.path.join(tmp, "run-" + name),
               PIXORAMA_REGISTRY_DIR=os.path.join(tmp, "registry-" + name), **extra)
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    return folder, env


def check_enter_opens_viewer(program, tmp):
    """With no imaging application anywhere, Enter on the 16-bit sample opens it in
    pixorama-view. SCREENSHOT=PATH saves the screen once the viewer shows it."""
    folder, env = sample_run(program, tmp, "enter")
    process = subprocess.Popen([program, os.path.join(folder, "sem-16bit-512x384.tif")], env=env)
    viewer = None
    try:
        window = wait_until(lambda: window_named(process.pid,
                                                 lambda n: n.startswith("Pixorama 1.0 - ")), 30)
        if not check(window, "enter: no main window"):
            return
        xdotool("windowfocus", "--sync", window)
        geometry = dict(item.split("=") for item in
                        (xdotool("getwindowgeometry", "--shell", window) or "").split())
        xdotool("mousemove", int(geometry["X"]) + 270, int(geometry["Y"]) + 60)
        xdotool("click", 1)
        wait_until(lambda: (xdotool("getwindowname", window) or "").endswith("16bit-512x384.tif"),
                   10)
        xdotool("key", "Return")
        found = lambda: (xdotool("search", "--onlyvisible", "--name", "Pixorama Viewer")  # noqa: E731
                         or "").split()
        viewer = wait_until(found, 15) and found()[0]
        title = viewer and xdotool("getwindowname", viewer)
        check(title and title.startswith("sem-16bit-512x384.tif"),
              "enter: the viewer shows %r" % title)
        if viewer and os.environ.get("SCREENSHOT"):
            time.sleep(1)
            subprocess.run(["xdotool", "windowactivate", "--sync", viewer])
            from PIL import ImageGrab
            ImageGrab.grab(xdisplay=None).save(os.environ["SCREENSHOT"])
    finally:
        # The viewer runs in a session of its own.
        pid = viewer and xdotool("getwindowpid", viewer)
        if pid:
            os.kill(int(pid), signal.SIGTERM)
        if process.poll() is None:
            process.terminate()
            process.wait(timeout=30)


def check_german(program, tmp):
    """Started with a German locale, the window, its menus, the delete question and the
    About box are German. SCREENSHOT_DE=PATH saves the screen with the File menu open."""
    folder, env = sample_run(program, tmp, "german", LC_ALL="de_DE.UTF-8")
    first = os.path.join(folder, "sem-16bit-512x384.tif")
    process = subprocess.Popen([program, first], env=env)
    try:
        window = wait_until(lambda: window_named(process.pid,
                                                 lambda n: n == "Pixorama 1.0 - " + first), 30)
        if not check(window, "german: no main window on the first file"):
            return
        xdotool("windowfocus", "--sync", window)
        check_question_and_about(process, window, "Bestätigen", "i", "Info")
        if os.environ.get("SCREENSHOT_DE"):
            xdotool("key", "alt+d")
            time.sleep(1)
            from PIL import ImageGrab
            ImageGrab.grab(xdisplay=None).save(os.environ["SCREENSHOT_DE"])
            xdotool("key", "Escape")
        xdotool("key", "alt+x")
        process.wait(timeout=30)
        check(os.path.exists(first), "german: the file went")
    finally:
        end_process(process)


def window_geometry(window):
    return dict(item.split("=") for item in
                (xdotool("getwindowgeometry", "--shell", window) or "").split())


def settings_of(path):
    """The main window's values in the settings file: {name: text}."""
    values = {}
    prefix = "Corvane\\Pixorama\\TPixorama\\"
    with open(path, encoding="utf-8") as f:
        for line in f:
            name, _, value = line.rstrip("\n").partition("=")
            # "%25key" marks the key itself.
            if name.startswith(prefix) and not name.startswith(prefix + "%"):
                values[name[len(prefix):]] = value.strip('"').partition(":")[2]
    return values


def pane_handles(window):
    """The client x of the splitter handle right of the left panel and the client y of the
    one below the folder tree, read off the screen: the handle between two panes is a
    3-pixel band between their frame lines."""
    from PIL import ImageGrab
    g = window_geometry(window)
    left, top = int(g["X"]), int(g["Y"])
    shot = ImageGrab.grab(xdisplay=None).convert("RGB")
    pixel = lambda x, y: shot.getpixel((left + x, top + y))  # noqa: E731
    row = int(g["HEIGHT"]) - 60  # in the information panel
    frame = pixel(0, 40)  # the folder tree's left frame line
    handle_x = next((x for x in range(10, int(g["WIDTH"]) - 5)
                     if pixel(x - 1, row) == frame and pixel(x + 3, row) == frame
                     and pixel(x, row) != frame), None)
    handle_y = next((y for y in range(40, int(g["HEIGHT"]) - 5)
                     if pixel(20, y - 1) == frame and pixel(20, y + 3) == frame
                     and pixel(20, y) != frame), None)
    return handle_x, handle_y


def drag(window, x, y, dx, dy):
    for step in (("mousemove", "--window", window, x, y), ("mousedown", 1),
                 ("mousemove", "--window", window, x + dx // 2, y + dy // 2),
                 ("mousemove", "--window", window, x + dx, y + dy), ("mouseup", 1)):
        xdotool(*step)
        time.sleep(0.2)


def check_restart_keeps_placement(program, tmp):
    """Window placement, pane sizes and the last folder survive a restart, in the user's
    own settings file under a home folder of the test's."""
    home = os.path.join(tmp, "home")
    folder = os.path.join(tmp, "pictures")
    os.makedirs(os.path.join(home, ".config"))
    os.makedirs(folder)
    with open(os.path.join(folder, "note.txt"), "w") as f:
        f.write("a file to start with\n")
    env = dict(os.environ, QT_QPA_PLATFORM="xcb", HOME=home,
               XDG_CONFIG_HOME=os.path.join(home, ".config"),
               XDG_RUNTIME_DIR=os.path.join(tmp, "run-placement"))
    env.pop("PIXORAMA_REGISTRY_DIR", None)
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
    settings = os.path.join(home, ".config", "Corvane", "Pixorama.ini")
    seen = {}
    for run in (1, 2):
        arguments = [os.path.join(folder, "note.txt")] if run == 1 else []
        process = subprocess.Popen([program] + arguments, env=env)
        try:
            title = "Pixorama 1.0 - " + folder
            window = wait_until(lambda: window_named(process.pid, lambda n: n == title), 30)
            if not check(window, "placement run %d: no window on %s (%s)" % (
                    run, folder, process.poll() if process.poll() is not None else
                    [xdotool("getwindowname", w) for w in (xdotool(
                        "search", "--all", "--pid", process.pid, "--name", ".") or "").split()])):
                return
            time.sleep(0.5)
            g = window_geometry(window)
            place = tuple(int(g[k]) for k in ("X", "Y", "WIDTH", "HEIGHT"))
            if run == 1:
                check(place == (92, 169, 645, 495), "first start not at the designed place: %s"
                      % (place,))
                xdotool("windowmove", window, 150, 120)
                xdotool("windowsize", window, 800, 560)
                time.sleep(0.5)
                handle_x, handle_y = pane_handles(window)
                if not check(handle_x and handle_y, "no splitter handles found"):
                    return
                drag(window, handle_x + 1, 300, 60, 0)
                drag(window, 20, handle_y + 1, 0, 50)
                seen["handles"] = pane_handles(window)
                moved = seen["handles"][0] - handle_x, seen["handles"][1] - handle_y
                check(abs(moved[0] - 60) <= 3 and abs(moved[1] - 50) <= 3,
                      "the drags moved the handles by %s" % (moved,))
            else:
                check(place == (150, 120, 800, 560), "placement after the restart: %s" % (place,))
                check(pane_handles(window) == seen["handles"], "panes after the restart: %s, "
                      "were %s" % (pane_handles(window), seen["handles"]))
            xdotool("windowfocus", "--sync", window)
            xdotool("key", "alt+x")
            process.wait(timeout=30)
        finally:
            if process.poll() is None:
                process.kill()
                process.wait()
        values = settings_of(settings)
        check(len(values) == 12, "run %d stored %s" % (run, sorted(values)))
        check(values.get("NormPos") == "150,120,950,680" and values.get("Visible") == "0"
              and values.get("DirTree_Directory") == folder, "run %d stored %s" % (run, values))
        if run == 1:
            seen["panes"] = (values.get("Panel1_Width"), values.get("ShellTree_Height"))
        else:
            check((values.get("Panel1_Width"), values.get("ShellTree_Height")) == seen["panes"],
                  "pane sizes %s after the restart, were %s" % (values, seen["panes"]))


def check_stop_signals(program, tmp):
    folder = os.path.join(tmp, "stop")
    os.makedirs(folder)
    picture = grey_png(2000, 2000)  # small on disk, some milliseconds to decode
    for i in range(3):
        with open(os.path.join(folder, "a%d.png" % i), "wb") as f:
            f.write(picture)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=os.path.join(tmp, "run"),
               PIXORAMA_REGISTRY_DIR=os.path.join(tmp, "registry"))
    os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700, exist_ok=True)
    first = os.path.join(folder, "a0.png")
    done = subprocess.run([program, "--quit-when-loaded", first], env=env, timeout=120)
    cache = os.path.join(folder, "pixorama.dtd")
    if not check(done.returncode == 0 and os.path.exists(cache), "no cache made"):
        return
    with open(cache, "rb") as f:
        old_cache = f.read()
    # Enough new files to keep the generation thread busy for seconds after the splash.
    for i in range(300):
        with open(os.path.join(folder, "b%03d.png" % i), "wb") as f:
            f.write(picture)
    for number in (signal.SIGINT, signal.SIGTERM):
        process = subprocess.Popen([program, first], env=env)
        time.sleep(2.5)
        process.send_signal(number)
        try:
            process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
        name = signal.Signals(number).name
        check(process.returncode == 0, "%s: exit status %s" % (name, process.returncode))
        left = [n for n in os.listdir(folder) if n.startswith("pixorama.dtd.tmp")]
        check(not left, "%s: temporary cache files left: %s" % (name, left))
        # The old cache, or a complete new one if the thread was done before the signal.
        with open(cache, "rb") as f:
            now = f.read()
        check(now == old_cache or (now[:4] == b"DTDB" and len(now) > len(old_cache)),
              "%s: cache damaged" % name)


def run_on_own_display(command, env):
    """Runs command on an X server of its own. The server picks a free display number
    itself and reports it once it accepts clients, so tests started together never
    share a server or race for one. It does not reset when its last client leaves, so a
    program started again right after another has ended finds it ready."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                               "1280x1024x24", "-nolisten", "tcp", "-noreset"],
                              pass_fds=(write_end,), stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL)
    os.close(write_end)
    number = b""
    while not number.endswith(b"\n"):
        chunk = os.read(read_end, 16)
        if not chunk:
            break
        number += chunk
    os.close(read_end)
    try:
        if not number.strip():
            print("FAIL: the X server did not start")
            return 1
        env = dict(env, DISPLAY=":" + number.decode().strip())
        env.pop("XAUTHORITY", None)
        return subprocess.run(command, env=env).returncode
    finally:
        server.terminate()
        server.wait()


def main():
    if len(sys.argv) not in (2, 3, 4) or sys.argv[2:3] not in ([], ["--signals"],
                                                                ["--close-only"],
                                                                ["--placement"]):
        print(__doc__, file=sys.stderr)
        return 2
    program = os.path.abspath(sys.argv[1])
    # The program's texts are native English in the neutral locale; check_german sets its own.
    os.environ["LC_ALL"] = "C.UTF-8"
    if sys.argv[2:] == ["--signals"]:
        with tempfile.TemporaryDirectory() as tmp:
            check_stop_signals(program, tmp)
        for failure in failures:
            print("FAIL:", failure)
        return 1 if failures else 0
    if os.environ.get(UNDER_X) != "1":
        if not shutil.which("Xvfb") or not shutil.which("xdotool"):
            print("SKIP: needs Xvfb and xdotool")
            return 77
        env = dict(os.environ, **{UNDER_X: "1"})
        return run_on_own_display([sys.executable, os.path.abspath(__file__)] + sys.argv[1:], env)
    with tempfile.TemporaryDirectory() as tmp:
        if len(sys.argv) == 4:
            cap = float(sys.argv[3])
            make_long_folder(os.path.join(tmp, "long"))
            seconds = close_after_long_file(program, tmp, os.path.join(tmp, "long"), cap, False)
            print("closed %s after Alt+X" % ("%.2f s" % seconds if seconds is not None
                                              else "> %g s (not at all)" % cap))
            for failure in failures:
                print("FAIL:", failure)
            return 0
        if sys.argv[2:] == ["--placement"]:
            check_restart_keeps_placement(program, tmp)
            for failure in failures:
                print("FAIL:", failure)
            return 1 if failures else 0
        check_long_file(program, tmp)
        check_jump_to_end(program, tmp)
        check_enter_opens_viewer(program, tmp)
        check_live_folder(program, tmp)
        check_german(program, tmp)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
