#!/usr/bin/python3
"""A desktop's side of global shortcuts for Vesk's portal tests.

Serves org.freedesktop.impl.portal.GlobalShortcuts under the name the test's .portal file
gives, behind the real xdg-desktop-portal frontend, on the session bus of the environment.
Each call it receives is kept; the test reads them and steers the desktop through
org.vesk.test.Desktop at /org/vesk/test:

  Calls() -> s             every call so far, as a JSON list
  Assign(s id, s trigger)  the trigger description later binds answer for that id
  Activate(s id)           presses the shortcut in the newest session
"""

import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

NAME = "org.freedesktop.impl.portal.desktop.vesktest"
IMPL = "org.freedesktop.impl.portal.GlobalShortcuts"
SESSION = "org.freedesktop.impl.portal.Session"
PROPERTIES = "org.freedesktop.DBus.Properties"
CONTROL = "org.vesk.test.Desktop"


def plain(value):
    """D-Bus values as JSON ones."""
    if isinstance(value, (dbus.Dictionary, dict)):
        return {str(k): plain(v) for k, v in value.items()}
    if isinstance(value, (dbus.Array, dbus.Struct, list, tuple)):
        return [plain(v) for v in value]
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.Int16, dbus.Int32, dbus.Int64, dbus.UInt16, dbus.UInt32,
                          dbus.UInt64, dbus.Byte)):
        return int(value)
    return str(value)


class Session(dbus.service.Object):
    def __init__(self, desktop, path):
        super().__init__(desktop.bus, path)
        self.desktop = desktop
        self.path = path

    @dbus.service.method(SESSION, in_signature="", out_signature="")
    def Close(self):
        self.desktop.calls.append({"method": "Close", "session": self.path})
        self.desktop.sessions.remove(self.path)
        self.remove_from_connection()


class Desktop(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/portal/desktop")
        self.bus = bus
        self.calls = []
        self.sessions = []
        self.assigned = {}
        self.keep = []
        self.control = Control(self)

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return dbus.UInt32(1)

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {"version": dbus.UInt32(1)} if interface == IMPL else {}

    @dbus.service.method(IMPL, in_signature="oosa{sv}", out_signature="ua{sv}")
    def CreateSession(self, handle, session_handle, app_id, options):
        self.calls.append({"method": "CreateSession", "session": str(session_handle)})
        self.keep.append(Session(self, str(session_handle)))
        self.sessions.append(str(session_handle))
        return dbus.UInt32(0), dbus.Dictionary({}, signature="sv")

    @dbus.service.method(IMPL, in_signature="ooa(sa{sv})sa{sv}", out_signature="ua{sv}")
    def BindShortcuts(self, handle, session_handle, shortcuts, parent_window, options):
        self.calls.append({"method": "BindShortcuts", "session": str(session_handle),
                           "shortcuts": plain(shortcuts)})
        bound = []
        for shortcut_id, info in shortcuts:
            trigger = self.assigned.get(str(shortcut_id), info.get("preferred_trigger", ""))
            bound.append(dbus.Struct(
                (shortcut_id, dbus.Dictionary({"description": info.get("description", ""),
                                               "trigger_description": trigger},
                                              signature="sv")),
                signature="sa{sv}"))
        results = {"shortcuts": dbus.Array(bound, signature="(sa{sv})")}
        return dbus.UInt32(0), dbus.Dictionary(results, signature="sv")

    @dbus.service.method(IMPL, in_signature="oo", out_signature="ua{sv}")
    def ListShortcuts(self, handle, session_handle):
        self.calls.append({"method": "ListShortcuts", "session": str(session_handle)})
        return dbus.UInt32(0), dbus.Dictionary({"shortcuts": dbus.Array([], signature="(sa{sv})")},
                                               signature="sv")

    @dbus.service.signal(IMPL, signature="osta{sv}")
    def Activated(self, session_handle, shortcut_id, timestamp, options):
        pass


class Control(dbus.service.Object):
    def __init__(self, desktop):
        super().__init__(desktop.bus, "/org/vesk/test")
        self.desktop = desktop

    @dbus.service.method(CONTROL, in_signature="", out_signature="s")
    def Calls(self):
        return json.dumps(self.desktop.calls)

    @dbus.service.method(CONTROL, in_signature="ss", out_signature="")
    def Assign(self, shortcut_id, trigger):
        self.desktop.assigned[str(shortcut_id)] = str(trigger)

    @dbus.service.method(CONTROL, in_signature="s", out_signature="")
    def Activate(self, shortcut_id):
        if self.desktop.sessions:
            self.desktop.Activated(dbus.ObjectPath(self.desktop.sessions[-1]), shortcut_id,
                                   dbus.UInt64(GLib.get_monotonic_time() // 1000),
                                   dbus.Dictionary({}, signature="sv"))


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    Desktop(bus)
    # The name last: once it is owned, every object answers.
    name = dbus.service.BusName(NAME, bus, do_not_queue=True)
    loop = GLib.MainLoop()
    bus.call_on_disconnection(lambda _connection: loop.quit())
    loop.run()
    del name
    return 0


if __name__ == "__main__":
    sys.exit(main())
