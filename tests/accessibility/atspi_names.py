#!/usr/bin/env python3
"""What a screen reader sees of the real program.

Runs build/norva against the demo service with accessibility on, reads its windows over AT-SPI
(the bus Orca uses), opens the settings dialog from the menu and a popup from the page, and
fails on any focusable control without a name or with a name another control of its window
also has, on a popup that is not an alert named after its notice, and when Ctrl+Alt+N does not
put the keyboard focus on the newest popup's first button.

Run it on its own bus: dbus-run-session -- python3 atspi_names.py PROGRAM SERVER
"""

import os
import re
import subprocess
import sys
import tempfile
import time

SKIP = 77


def wait_for(what, predicate, timeout=90.0):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.2)
    raise AssertionError("timed out waiting for " + what)


def children(acc):
    try:
        return [acc.getChildAtIndex(i) for i in range(acc.childCount)]
    except Exception:  # a child that went away while we looked
        return []


def walk(acc, skip_roles):
    for child in children(acc):
        if child is None:
            continue
        yield child
        if child.getRoleName() not in skip_roles:
            yield from walk(child, skip_roles)


def find(root, role, name_pattern):
    pattern = re.compile(name_pattern)
    for acc in walk(root, ()):
        try:
            if acc.getRoleName() == role and pattern.search(acc.name or ""):
                return acc
        except Exception:
            continue
    return None


def press(acc, pyatspi):
    """Presses a control the way a screen reader user does: its own action, or for a web
    control (which offers only focusing) the focus and then the space bar."""
    action = acc.queryAction()
    names = [action.getName(i).lower() for i in range(action.nActions)]
    for wanted in ("press", "click", "activate", "toggle", "trigger"):
        if wanted in names:
            action.doAction(names.index(wanted))
            return
    if "setfocus" in names:
        action.doAction(names.index("setfocus"))
        wait_for("the focus", lambda: acc.getState().contains(pyatspi.STATE_FOCUSED), 20)
        pyatspi.Registry.generateKeyboardEvent(0x20, None, pyatspi.KEY_SYM)
        return
    raise AssertionError("%s offers no action to press it: %s" % (acc, names))


def spoken_name(acc, pyatspi):
    """The name a screen reader says: a combo box is named by its label (its own name is its
    value); anything else by its name, or by its label when it has none."""
    labels = []
    for relation in acc.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            labels += [relation.getTarget(i).name or "" for i in range(relation.getNTargets())]
    label = " ".join(text.strip() for text in labels if text.strip())
    if acc.getRoleName() == "combo box":
        return label
    return (acc.name or "").strip() or label


def problems_of(window, pyatspi):
    """Unnamed and duplicate focusable controls of one window, web content left out."""
    # The page is the web application's to name; a combo box's drop-down list opens only
    # from the named box itself.
    skip = {"document web", "document frame", "combo box"}
    seen = {}
    found = []
    for acc in walk(window, skip):
        try:
            states = acc.getState()
            if not states.contains(pyatspi.STATE_FOCUSABLE):
                continue
            role = acc.getRoleName()
            name = spoken_name(acc, pyatspi)
        except Exception:
            continue
        if role in ("list item", "table cell") and not states.contains(pyatspi.STATE_VISIBLE):
            continue  # hidden entries (the settings list hides one)
        label = "%s '%s'" % (role, name)
        if not any(c.isalnum() for c in name):  # nothing, or only "..."
            found.append("%s: %s without a name ('%s')" % (window.name, role, name))
        elif name in seen:
            found.append("%s: %s and %s share the name" % (window.name, seen[name], label))
        else:
            seen[name] = label
    return found


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    program, server = sys.argv[1], sys.argv[2]
    try:
        import pyatspi
    except ImportError:
        print("SKIP: needs python3-pyatspi")
        return SKIP
    if not os.environ.get("DISPLAY") or not os.environ.get("DBUS_SESSION_BUS_ADDRESS"):
        print("SKIP: needs an X display and a private session bus (dbus-run-session)")
        return SKIP

    home = tempfile.TemporaryDirectory(prefix="norva-atspi-")
    env = dict(os.environ)
    for var, sub in (("HOME", ""), ("XDG_CONFIG_HOME", "/config"), ("XDG_DATA_HOME", "/data"),
                     ("XDG_CACHE_HOME", "/cache"), ("XDG_RUNTIME_DIR", "/runtime")):
        os.makedirs(home.name + sub, mode=0o700, exist_ok=True)
        env[var] = home.name + sub
    service = subprocess.Popen([sys.executable, server, "--port", "0", "--quiet"],
                               stdout=subprocess.PIPE, text=True)
    norva = None
    try:
        line = service.stdout.readline()
        base = re.search(r"serving on (http://\S+/)", line).group(1)
        env.update(NORVA_SERVICE_URL=base, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        env.setdefault("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu")
        env.setdefault("QTWEBENGINE_DISABLE_SANDBOX", "1")
        # The registry first: the program announces itself to it once, when it starts.
        desktop = pyatspi.Registry.getDesktop(0)
        desktop.childCount
        norva = subprocess.Popen([program], env=env)

        def application():
            for app in children(desktop):
                try:
                    if app is not None and app.get_process_id() == norva.pid:
                        return app
                except Exception:
                    continue
            assert norva.poll() is None, "norva ended with %s" % norva.returncode
            return None

        app = wait_for("the program on the accessibility bus", application)
        main_window = wait_for("the main window", lambda: find(app, "frame", "."))

        def popups():
            return [w for w in children(app) if w is not None and w.getRoleName() != "frame"
                    and find(w, "push button", "^拒绝$") is not None]

        # A popup: the playground's invitation button, pressed until the rules from the
        # version file have arrived and the notice becomes a popup instead of a balloon.
        def invite():
            if popups():
                return True
            button = find(main_window, "push button", r"^日程邀请 \(busicType 6")
            if button is not None:
                press(button, pyatspi)
                # Until the rules arrive the notice goes to the tray: try again shortly.
                time.sleep(1.0)
            return False

        wait_for("a popup", invite, timeout=120)

        # The keyboard's way to the popup: Ctrl+Alt+N in the main window focuses the newest
        # popup's first button. While it has the focus the popup stays (the demo's popups go
        # after 10 s otherwise), so it is read before anything else takes the focus.
        subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(norva.pid),
                        "--name", "^青隼$", "windowfocus", "--sync", "key", "ctrl+alt+n"],
                       check=True, timeout=60)

        def focused_popup():
            for window in popups():
                detail = find(window, "push button", "^查看详情$")
                if detail is not None and detail.getState().contains(pyatspi.STATE_FOCUSED):
                    return window
            return None

        popup_window = wait_for("the focus on a popup's 查看详情 after Ctrl+Alt+N",
                                focused_popup, 30)

        failures = problems_of(popup_window, pyatspi)
        # Announced as it appears: an alert named by its caption and title.
        if popup_window.getRoleName() != "alert" or "日程邀请" not in (popup_window.name or ""):
            failures.append("the popup is %s '%s', not an alert named after the notice"
                            % (popup_window.getRoleName(), popup_window.name))
        for name in ("拒绝", "接受", "查看详情"):
            if find(popup_window, "push button", "^%s$" % name) is None:
                failures.append("the popup has no button named %s" % name)
        settings_item = wait_for("the 设置 menu entry",
                                 lambda: find(main_window, "menu item", "^设置"))
        press(settings_item, pyatspi)
        dialog = wait_for("the settings dialog",
                          lambda: next((w for w in children(app)
                                        if w is not None and w.name == "系统设置"), None))

        for window in (main_window, dialog):
            failures += problems_of(window, pyatspi)
        spoken = {spoken_name(a, pyatspi) for a in walk(dialog, ())}
        for name in ("端口:", "代理服务器地址", "选择下载目录", "启用打开软件热键",
                     "启用快捷搜索热键", "设置类别", "代理类型", "软件语言"):
            if name not in spoken:
                failures.append("the settings dialog has nothing named '%s'" % name)
        for failure in failures:
            print("FAIL:", failure)
        print("checked 3 windows: %d problems" % len(failures))
        return 1 if failures else 0
    finally:
        if norva is not None:
            norva.terminate()
            try:
                norva.wait(30)
            except subprocess.TimeoutExpired:
                norva.kill()
        service.terminate()
        service.wait(10)


if __name__ == "__main__":
    sys.exit(main())

