#!/usr/bin/python3
"""A scripted MPRIS player for tests.

Owns org.mpris.MediaPlayer2.<name> on the session bus (DBUS_SESSION_BUS_ADDRESS) and serves
org.mpris.MediaPlayer2.Player's PlaybackStatus and Metadata. Reads one JSON command a line
from standard input and answers each with "ok" (or "error ...") on standard output; prints
"ready" once the name is owned. Commands:

  {"status": "Playing"}                      set PlaybackStatus and announce it
  {"status": ["i", 3]}                       the same with an explicit D-Bus type
  {"metadata": {"xesam:title": ["s", "T"], "xesam:artist": ["as", ["A"]],
                "mpris:length": ["x", 180000000]}}
                                             replace Metadata (typed values) and announce it
  "signal": false beside either              change without PropertiesChanged
  "invalidate": true beside either           announce only the names (invalidated_properties)
  {"seeked": 0}                              emit Seeked with a position in microseconds
  {"quit": true}                             release the name and exit
"""

import json
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

from line_input import watch_lines

PATH = "/org/mpris/MediaPlayer2"
ROOT = "org.mpris.MediaPlayer2"
PLAYER = "org.mpris.MediaPlayer2.Player"
PROPERTIES = "org.freedesktop.DBus.Properties"


def typed(pair):
    """["x", 5] → dbus.Int64(5): the test decides the exact wire type."""
    signature, value = pair
    makers = {
        "s": dbus.String,
        "o": dbus.ObjectPath,
        "x": dbus.Int64,
        "t": dbus.UInt64,
        "i": dbus.Int32,
        "d": dbus.Double,
        "b": dbus.Boolean,
    }
    if signature in makers:
        return makers[signature](value)
    if signature == "as":
        return dbus.Array([dbus.String(v) for v in value], signature="s")
    if signature == "ax":
        return dbus.Array([dbus.Int64(v) for v in value], signature="x")
    raise ValueError("unknown signature " + signature)


class Player(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, PATH)
        self.props = {
            "PlaybackStatus": dbus.String("Stopped"),
            "Metadata": dbus.Dictionary({}, signature="sv"),
        }

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface != PLAYER or name not in self.props:
            raise dbus.exceptions.DBusException(
                "org.freedesktop.DBus.Error.UnknownProperty", name)
        return self.props[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        if interface == PLAYER:
            return dbus.Dictionary(self.props, signature="sv")
        if interface == ROOT:
            return dbus.Dictionary({"Identity": dbus.String("Test player")}, signature="sv")
        return dbus.Dictionary({}, signature="sv")

    @dbus.service.signal(PROPERTIES, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass

    @dbus.service.signal(PLAYER, signature="x")
    def Seeked(self, position):
        pass

    def change(self, changed, signal, invalidate):
        self.props.update(changed)
        if not signal:
            return
        if invalidate:
            self.PropertiesChanged(PLAYER, dbus.Dictionary({}, signature="sv"),
                                   dbus.Array(list(changed), signature="s"))
        else:
            self.PropertiesChanged(PLAYER, dbus.Dictionary(changed, signature="sv"),
                                   dbus.Array([], signature="s"))
        # On the wire before "ok", so the test's next step happens after this signal.
        self.connection.flush()


def main():
    name = ROOT + "." + sys.argv[1]
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    player = Player(bus)
    loop = GLib.MainLoop()
    owned = dbus.service.BusName(name, bus, do_not_queue=True)

    def answer(text):
        sys.stdout.write(text + "\n")
        sys.stdout.flush()

    def run(command):
        if command.get("quit"):
            loop.quit()
            return False
        if "seeked" in command:
            player.Seeked(dbus.Int64(command["seeked"]))
            player.connection.flush()
            return True
        changed = {}
        if "status" in command:
            status = command["status"]
            changed["PlaybackStatus"] = (typed(status) if isinstance(status, list)
                                         else dbus.String(status))
        if "metadata" in command:
            metadata = command["metadata"]
            if isinstance(metadata, list):  # the whole Metadata with a wrong type
                changed["Metadata"] = typed(metadata)
            else:
                changed["Metadata"] = dbus.Dictionary(
                    {key: typed(pair) for key, pair in metadata.items()}, signature="sv")
        player.change(changed, command.get("signal", True), command.get("invalidate", False))
        return True

    def handle(line):
        try:
            if not run(json.loads(line)):
                return False
            answer("ok")
        except Exception as error:  # a bad command must not end the player
            answer("error " + str(error))
        return True

    watch_lines(loop, handle)
    answer("ready")
    loop.run()
    del owned
    bus.flush()


if __name__ == "__main__":
    main()
