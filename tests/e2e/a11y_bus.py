# The accessibility bus of the session bus these scripts run on: each copy of
# the program under test has a session bus, and so an accessibility bus, of
# its own.
from gi.repository import Gio, GLib


def connect():
    session = Gio.bus_get_sync(Gio.BusType.SESSION)
    address = session.call_sync('org.a11y.Bus', '/org/a11y/bus', 'org.a11y.Bus', 'GetAddress', None,
                                GLib.VariantType('(s)'), 0, 5000).unpack()[0]
    flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
    return Gio.DBusConnection.new_for_address_sync(address, flags)
