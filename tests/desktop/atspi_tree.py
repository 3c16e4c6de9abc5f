#!/usr/bin/python3
"""Reads a running program's widgets through the accessibility bus (AT-SPI).

  atspi_tree.py dump APP            one line per accessible object of APP:
                                    depth, role, name, description, x, y, width,
                                    height (screen pixels), tab-separated, with
                                    tabs, line breaks and backslashes escaped
  atspi_tree.py press APP NAME      runs the first action of the first menu item
                                    or button named NAME

Exit status 2 when APP is not on the bus (yet).
"""
import sys

import dbus

ACCESSIBLE = "org.a11y.atspi.Accessible"
COMPONENT = "org.a11y.atspi.Component"
ACTION = "org.a11y.atspi.Action"
PROPERTIES = "org.freedesktop.DBus.Properties"
SCREEN_COORDS = 0


def accessibility_bus():
    session = dbus.SessionBus()
    address = session.get_object("org.a11y.Bus", "/org/a11y/bus").GetAddress(
        dbus_interface="org.a11y.Bus")
    return dbus.bus.BusConnection(address)


class Node:
    def __init__(self, bus, name, path):
        self.bus, self.name, self.path = bus, name, path
        self.obj = bus.get_object(name, path, introspect=False)

    def prop(self, key):
        return str(self.obj.Get(ACCESSIBLE, key, dbus_interface=PROPERTIES))

    def role(self):
        return str(self.obj.GetRoleName(dbus_interface=ACCESSIBLE))

    def children(self):
        return [Node(self.bus, n, p) for (n, p) in self.obj.GetChildren(dbus_interface=ACCESSIBLE)]

    def extents(self):
        try:
            return [int(v) for v in self.obj.GetExtents(SCREEN_COORDS, dbus_interface=COMPONENT)]
        except dbus.DBusException:
            return [0, 0, 0, 0]


def escape(text):
    return text.replace("\\", "\\\\").replace("\t", "\\t").replace("\n", "\\n")


def find_app(bus, app_name):
    root = Node(bus, "org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root")
    for app in root.children():
        try:
            if app.prop("Name") == app_name:
                return app
        except dbus.DBusException:
            continue
    return None


def walk(node, depth, visit):
    visit(node, depth)
    for child in node.children():
        walk(child, depth + 1, visit)


def main():
    if len(sys.argv) < 3:
        print(__doc__, file=sys.stderr)
        return 64
    bus = accessibility_bus()
    app = find_app(bus, sys.argv[2])
    if app is None:
        return 2
    if sys.argv[1] == "dump":
        def show(node, depth):
            fields = [str(depth), node.role(), escape(node.prop("Name")),
                      escape(node.prop("Description"))] + [str(v) for v in node.extents()]
            print("\t".join(fields))
        walk(app, 0, show)
        return 0
    if sys.argv[1] == "press" and len(sys.argv) == 4:
        found = []

        def match(node, depth):
            if not found and node.prop("Name") == sys.argv[3] and node.role() in (
                    "menu item", "push button", "check menu item"):
                found.append(node)
        walk(app, 0, match)
        if not found:
            return 3
        found[0].obj.DoAction(0, dbus_interface=ACTION)
        return 0
    print(__doc__, file=sys.stderr)
    return 64


if __name__ == "__main__":
    sys.exit(main())
