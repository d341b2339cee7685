#!/usr/bin/env python3
"""The real window as a screen reader meets it, through the accessibility bus (AT-SPI).

Runs the program on a virtual display inside a private D-Bus session of its own, walks the
window's accessible tree and checks that every control of the face has a role, a name that
says what it is and a value, that hidden fields and the focus sink are not in the tree, and
that a value set through the accessibility bus becomes an edit of the setup: step 3's pitch
is set, the setup saved with Ctrl+S and read back with the command-line tool.

Usage: face_tree_test.py PROGRAM CLI. Exits 77 (skipped) when Xvfb, xdotool,
dbus-run-session or python3-pyatspi is missing. Waits poll with generous limits: the
machine may be busy.
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77
SESSION_FLAG = "MARROWBEAT_A11Y_SESSION"
# The controls of a full face: 3 menus, M, E, play, sound, tempo, 8 loops, 16 steps of 6,
# the status line.
FULL_FACE = 3 + 2 + 2 + 1 + 8 + 16 * 6 + 1


# Called before every look while waiting: dismisses the notes a machine without sound
# shows (no output at start, none to play on).
between_looks = []


def wait_for(what, probe, seconds=60.0):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for hook in between_looks:
            hook()
        try:
            result = probe()
        except Exception:  # the tree may be rebuilt while it is read
            result = None
        if result:
            return result
        time.sleep(0.2)
    sys.exit(f"FAIL: {what} (waited {seconds:.0f} s)")


def enter_private_session():
    missing = [t for t in ("dbus-run-session", "Xvfb", "xdotool") if shutil.which(t) is None]
    try:
        import pyatspi  # noqa: F401
    except ImportError:
        missing.append("python3-pyatspi")
    if missing:
        print("skipped: missing " + ", ".join(missing))
        sys.exit(SKIP)
    os.environ[SESSION_FLAG] = "1"
    os.execvp("dbus-run-session", ["dbus-run-session", "--", sys.executable, *sys.argv])


def start_display(processes):
    xvfb = subprocess.Popen(
        ["Xvfb", "-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
        stdout=subprocess.PIPE)
    processes.append(xvfb)
    return ":" + xvfb.stdout.readline().decode().strip()


def describe(acc):
    """(role, name, value or None, states) of one accessible."""
    import pyatspi
    value = None
    try:
        value = acc.queryValue().currentValue
    except NotImplementedError:
        pass
    states = acc.getState()
    return (acc.getRoleName(), acc.name, value,
            {n for n, s in (("checked", pyatspi.STATE_CHECKED), ("visible", pyatspi.STATE_VISIBLE))
             if states.contains(s)})


def main():
    if os.environ.get(SESSION_FLAG) != "1":
        enter_private_session()
    import pyatspi

    program, cli = sys.argv[1:3]
    processes = []
    work = tempfile.mkdtemp(prefix="marrowbeat-a11y-")
    try:
        # A new setup (no sound folder to look for), with a file to save to.
        setup = os.path.join(work, "setup.mbx")
        subprocess.run([cli, "write", "-", "-o", setup], input='{"stepCount": 16}', text=True,
                       check=True)
        env = dict(os.environ)
        env.update(DISPLAY=start_display(processes), QT_QPA_PLATFORM="xcb", QT_ACCESSIBILITY="1",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                   XDG_CONFIG_HOME=os.path.join(work, "config"))
        # The accessibility bus and its registry run before the program looks for them.
        desktop = pyatspi.Registry.getDesktop(0)
        app_proc = subprocess.Popen([program, setup], env=env)
        processes.append(app_proc)

        def xdotool(*args):
            return subprocess.run(["xdotool", *args], env=env, capture_output=True,
                                  text=True).stdout.strip()

        def dismiss_notes():
            # Without a sound server the program says so in a note before its window shows.
            for note in xdotool("search", "--onlyvisible", "--name", "^Marrowbeat$").split():
                xdotool("windowfocus", "--sync", note, "key", "Escape")

        between_looks.append(dismiss_notes)

        def main_window():
            for app in desktop:
                if app is None or app.get_process_id() != app_proc.pid:
                    continue
                for window in app:
                    if window.childCount >= 50 and window.getState().contains(
                            pyatspi.STATE_SHOWING):
                        return window
            return None

        window = wait_for("the program's window in the accessible tree", main_window)
        role = window.getRoleName()
        assert role == "frame", f"the window's role is {role!r}, not a frame"
        controls = wait_for("the face's controls", lambda: list(window) if
                            window.childCount == FULL_FACE else None)
        seen = [describe(c) for c in controls]
        if os.environ.get("MARROWBEAT_A11Y_DUMP"):
            for row in seen:
                print(*row, sep=" | ")

        problems = []
        for role, name, value, states in seen:
            if not name or name == "C":
                problems.append(f"a {role} without a name that says what it is: {name!r}")
            if "visible" not in states:
                problems.append(f"{name!r} is hidden but in the tree")
            if value is None and not name.endswith(" menu") and role != "notification":
                problems.append(f"{name!r} ({role}) has no value")
        roles = {}
        for role, _, _, _ in seen:
            roles[role] = roles.get(role, 0) + 1
        # What a full face holds, role by role.
        expected = {"check box": 16, "spin button": 33, "slider": 50, "radio button": 8,
                    "notification": 1}
        for role, count in expected.items():
            if roles.get(role, 0) != count:
                problems.append(f"{roles.get(role, 0)} controls of role {role!r}, not {count}")
        names = [name for _, name, _, _ in seen]
        for wanted in ("Play", "Sound", "Master volume", "File menu", "Step 3 pitch",
                       "Step 16 D, nothing"):
            if not any(n == wanted or n.startswith(wanted) for n in names):
                problems.append(f"no control named {wanted!r}")
        if not any(n.startswith("Loop 1, selected, next loop ") for n in names):
            problems.append("loop 1 does not say it is selected and where the chain goes")
        if not any(n in ("Step 3, on", "Step 3, off") for n in names):
            problems.append("step 3's toggle does not say whether it is on")
        if problems:
            sys.exit("FAIL:\n  " + "\n  ".join(problems))

        # What the screen reader hears of changes: events, gathered while the test waits.
        from gi.repository import GLib
        heard = []

        def listen(event):
            heard.append((event.type, event.source.name if event.source else ""))

        for kind in ("object:property-change:accessible-name",
                     "object:property-change:accessible-value", "object:state-changed:checked"):
            pyatspi.Registry.registerEventListener(listen, kind)

        def hears(kind, name):
            def probe():
                while GLib.MainContext.default().iteration(False):
                    pass
                return any(t == kind and n.startswith(name) for t, n in heard)
            return probe

        def control(prefix):
            return next((c for c in window if c.name.startswith(prefix)), None)

        # Play and a loop, through the bus: both are announced on the status line.
        control("Play, stopped").queryAction().doAction(0)
        wait_for("Play to say it plays", lambda: control("Play, playing"), 30)
        wait_for("the status line to announce it", lambda: control("Status: Playing"), 30)
        wait_for("the name change to be heard",
                 hears("object:property-change:accessible-name", "Status: Playing"), 30)
        control("Play, playing").queryAction().doAction(0)
        wait_for("Play to say it stopped", lambda: control("Status: Stopped"), 30)
        control("Loop 2,").queryAction().doAction(0)
        wait_for("loop 2 to be selected", lambda: control("Loop 2, selected"), 30)
        wait_for("the loop to be announced", lambda: control("Status: Loop 2 selected"), 30)
        control("Loop 1,").queryAction().doAction(0)
        wait_for("loop 1 to be selected again", lambda: control("Loop 1, selected"), 30)

        # Loop 2's menu opens its chain settings, which are set through the bus as well.
        control("Loop 2,").queryAction().doAction(1)

        def chain_settings():
            for app in desktop:
                if app is not None and app.get_process_id() == app_proc.pid:
                    for w in app:
                        if w.name == "Loop 2 chain settings" and w.childCount == 3:
                            return w
            return None

        repeats = next(c for c in wait_for("loop 2's chain settings", chain_settings, 30)
                       if c.name == "Loop 2 repeats")
        repeats.queryValue().currentValue = 4
        wait_for("loop 2 to say it repeats 4 times",
                 lambda: control("Loop 2,").name.endswith(", 4 repeats"), 30)

        # Step 3's pitch, set through the bus: the field shows it, and saved, the setup has it.
        pitch = next(c for c in controls if c.name == "Step 3 pitch")
        before = pitch.queryValue().currentValue
        wanted = 7 if before != 7 else 9
        pitch.queryValue().currentValue = wanted
        wait_for("step 3's pitch to read back as set",
                 lambda: pitch.queryValue().currentValue == wanted, 30)
        wait_for("the value change to be heard",
                 hears("object:property-change:accessible-value", "Step 3 pitch"), 30)

        def saved_pitch():
            xid = xdotool("search", "--all", "--onlyvisible", "--pid", str(app_proc.pid),
                          "--name", "[+]").split()
            if not xid:
                return None
            xdotool("windowfocus", "--sync", xid[0])
            xdotool("key", "ctrl+s")
            time.sleep(0.5)
            info = subprocess.run([cli, "info", setup], capture_output=True, text=True)
            if info.returncode != 0:
                return None
            loops = json.loads(info.stdout)["loops"]
            return loops[0]["steps"][2]["pitch"] == wanted and loops[1]["repeatCount"] == 4

        wait_for("the saved setup to hold step 3's new pitch and loop 2's repeats", saved_pitch,
                 60)
        print(f"ok: {len(seen)} controls; step 3's pitch set to {wanted} through the bus")
    finally:
        for p in reversed(processes):
            p.kill()
            p.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
