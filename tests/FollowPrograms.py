#!/usr/bin/python3
# On the accessibility bus. fields: a GTK 3 window at the top-left corner, two text fields far
# apart. mute FILE: tells of a focus and a text cursor moving, over and over, and never answers
# a question; makes FILE once it has told.
import sys
import gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gio, GLib, Gtk  # noqa: E402


def fields():
    Gtk.Settings.get_default().set_property("gtk-cursor-blink", False)  # a still screen
    window, box, first = Gtk.Window(title="Two fields"), Gtk.Fixed(), Gtk.Entry()
    box.put(first, 20, 20)
    box.put(Gtk.Entry(), 480, 380)
    window.add(box)
    window.show_all()
    window.present()  # with no window manager: the keyboard's focus, wherever the pointer is
    first.grab_focus()
    Gtk.main()


def mute():
    session = Gio.bus_get_sync(Gio.BusType.SESSION)
    address = session.call_sync("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress",
                                None, None, 0, -1, None).unpack()[0]
    bus = Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
        | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
    bus.add_filter(lambda _c, message, incoming: None if incoming and message.get_message_type()
                   == Gio.DBusMessageType.METHOD_CALL else message)

    def tell():
        for member, detail in ("StateChanged", "focused"), ("TextCaretMoved", ""):
            bus.emit_signal(None, "/org/a11y/atspi/accessible/1", "org.a11y.atspi.Event.Object",
                            member, GLib.Variant("(siiva{sv})", (detail, 1, 0, GLib.Variant("i", 0), {})))
        return True

    tell()
    bus.flush_sync(None)
    open(sys.argv[2], "w").close()
    GLib.timeout_add(50, tell)
    GLib.MainLoop().run()


{"fields": fields, "mute": mute}[sys.argv[1]]()
