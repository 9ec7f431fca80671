#!/usr/bin/python3
"""A stand-in StatusNotifierWatcher (with a host registered) for tests.

Owns org.kde.StatusNotifierWatcher on the session bus, so Qt puts its tray icon on the bus as a
StatusNotifierItem instead of an XEmbed window. Prints "ready", then "registered SERVICE PATH"
for each item. Reads one command a line on standard input and answers on standard output:

  tooltip     the registered item's ToolTip title (or "none")
  activate    calls the item's Activate(0, 0); answers "ok"
"""

import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

from line_input import watch_lines

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
PROPERTIES = "org.freedesktop.DBus.Properties"

# Qt reads the properties through introspection: they must be declared here.
INTROSPECTION = """<!DOCTYPE node PUBLIC "-//freedesktop//DTD D-BUS Object Introspection 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/introspect.dtd">
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
  <interface name="org.freedesktop.DBus.Properties">
    <method name="Get"><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="v" direction="out"/></method>
    <method name="GetAll"><arg type="s" direction="in"/><arg type="a{sv}" direction="out"/></method>
  </interface>
</node>
"""


class Watcher(dbus.service.Object):
    def __init__(self, bus, announce):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.bus = bus
        self.items = []
        self.announce = announce

    @dbus.service.method("org.freedesktop.DBus.Introspectable", out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # The item names either its bus name or an object path on the sender's connection.
        if service.startswith("/"):
            item = (sender, service)
        else:
            item = (service, "/StatusNotifierItem")
        self.items.append(item)
        self.StatusNotifierItemRegistered(item[0] + item[1])
        self.announce("registered %s %s" % item)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, service):
        pass

    def props(self):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(
                [a + b for a, b in self.items], signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
        }

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.props()[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return dbus.Dictionary(self.props(), signature="sv")

    def item(self):
        if not self.items:
            return None
        service, path = self.items[-1]
        return self.bus.get_object(service, path, introspect=False)


def main():
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    bus.set_exit_on_disconnect(False)

    def answer(text):
        sys.stdout.write(text + "\n")
        sys.stdout.flush()

    watcher = Watcher(bus, answer)
    owned = dbus.service.BusName(WATCHER, bus, do_not_queue=True)
    loop = GLib.MainLoop()

    # Calls to the item are asynchronous: the application may call the watcher meanwhile,
    # and a blocked watcher would leave both waiting.
    def run(command):
        item = watcher.item()
        failed = lambda error: answer("error " + str(error))
        if item is None:
            answer("none")
        elif command == "tooltip":
            item.Get(ITEM, "ToolTip", dbus_interface=PROPERTIES,
                     reply_handler=lambda tip: answer(str(tip[2])), error_handler=failed)
        elif command == "activate":
            item.Activate(dbus.Int32(0), dbus.Int32(0), dbus_interface=ITEM,
                          reply_handler=lambda: answer("ok"), error_handler=failed)
        else:
            answer("error unknown command")

    watch_lines(loop, run)
    answer("ready")
    loop.run()
    del owned


if __name__ == "__main__":
    main()
