#!/usr/bin/python3
"""A scripted freedesktop notification server for the desktop tests.

  notification_server.py serve RECORD [CAPABILITY...]
      owns org.freedesktop.Notifications on the session bus, announces the
      capabilities given and appends one JSON line per Notify call to RECORD
      (created, empty, once the name is owned): app_name, replaces_id,
      app_icon, summary, body, actions, hints (image-data as its size and
      byte count), expire_timeout and the id given back.
  notification_server.py invoke ID KEY
      makes the running server send ActionInvoked(ID, KEY), then
      NotificationClosed(ID, 2), as a server does when the user clicks.
"""
import json
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NAME = "org.freedesktop.Notifications"
PATH = "/org/freedesktop/Notifications"
CONTROL = "org.orvalin.test.NotificationControl"


def plain(value):
    if isinstance(value, dbus.Struct):  # image-data: (iiibiiay)
        return [plain(v) for v in value[:6]] + [len(value[6])]
    if isinstance(value, (dbus.Boolean, bool)):
        return bool(value)
    if isinstance(value, (dbus.Byte, dbus.Int32, dbus.UInt32, dbus.Int64, int)):
        return int(value)
    return str(value)


class Server(dbus.service.Object):
    def __init__(self, bus, record, capabilities):
        super().__init__(bus, PATH)
        self.record, self.capabilities, self.last_id = record, capabilities, 0

    @dbus.service.method(NAME, in_signature="", out_signature="as")
    def GetCapabilities(self):
        return self.capabilities

    @dbus.service.method(NAME, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app_name, replaces_id, app_icon, summary, body, actions, hints, timeout):
        self.last_id += 1
        entry = {"app_name": str(app_name), "replaces_id": int(replaces_id),
                 "app_icon": str(app_icon), "summary": str(summary), "body": str(body),
                 "actions": [str(a) for a in actions],
                 "hints": {str(k): plain(v) for k, v in hints.items()},
                 "expire_timeout": int(timeout), "id": self.last_id}
        with open(self.record, "a", encoding="utf-8") as out:
            out.write(json.dumps(entry, sort_keys=True) + "\n")
        return self.last_id

    @dbus.service.method(NAME, in_signature="u", out_signature="")
    def CloseNotification(self, notification_id):
        self.NotificationClosed(notification_id, 3)

    @dbus.service.method(NAME, in_signature="", out_signature="ssss")
    def GetServerInformation(self):
        return ("test", "orvalin", "1", "1.2")

    @dbus.service.signal(NAME, signature="us")
    def ActionInvoked(self, notification_id, key):
        pass

    @dbus.service.signal(NAME, signature="uu")
    def NotificationClosed(self, notification_id, reason):
        pass

    @dbus.service.method(CONTROL, in_signature="us", out_signature="")
    def Invoke(self, notification_id, key):
        self.ActionInvoked(notification_id, key)
        self.NotificationClosed(notification_id, 2)


def main():
    if len(sys.argv) >= 3 and sys.argv[1] == "serve":
        dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
        bus = dbus.SessionBus()
        server = Server(bus, sys.argv[2], sys.argv[3:])
        name = dbus.service.BusName(NAME, bus, do_not_queue=True)
        open(sys.argv[2], "a", encoding="utf-8").close()
        GLib.MainLoop().run()
        del server, name
    elif len(sys.argv) == 4 and sys.argv[1] == "invoke":
        control = dbus.SessionBus().get_object(NAME, PATH)
        control.Invoke(dbus.UInt32(int(sys.argv[2])), sys.argv[3], dbus_interface=CONTROL)
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
