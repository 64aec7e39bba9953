#!/usr/bin/python3
# Presses a button of a running GTK program the way a screen reader would:
# through the accessibility bus (AT-SPI) of the session bus this process is
# on. The button is found by its text: its own name, or the text of a label
# inside it. Walks the tree again until the button shows up or time runs out.
#
#   press-button.py TEXT [TIMEOUT_SECONDS]
#
# Exit status 0 once pressed; 1 when no such button appeared in time.
# Web content is not walked: the buttons we press are the program's own.
import sys
import time

from gi.repository import GLib

from a11y_bus import connect

ACCESSIBLE = 'org.a11y.atspi.Accessible'
BUTTON_ROLES = ('button', 'push button', 'toggle button')
SKIPPED_ROLES = ('document web', 'html container', 'internal frame')


class Tree:
    def __init__(self, bus):
        self.bus = bus

    def call(self, name, path, interface, method, args=None):
        return self.bus.call_sync(name, path, interface, method, args, None, 0, 5000).unpack()

    def name(self, node):
        value = self.call(node[0], node[1], 'org.freedesktop.DBus.Properties', 'Get',
                          GLib.Variant('(ss)', (ACCESSIBLE, 'Name')))[0]
        return value if isinstance(value, str) else ''

    def role(self, node):
        return self.call(node[0], node[1], ACCESSIBLE, 'GetRoleName')[0]

    def children(self, node):
        return [tuple(child) for child in self.call(node[0], node[1], ACCESSIBLE, 'GetChildren')[0]]

    def find(self, node, text, button=None):
        try:
            role = self.role(node)
            if role in SKIPPED_ROLES:
                return None
            if role in BUTTON_ROLES:
                button = node
            if button and self.name(node) == text:
                return button
            for child in self.children(node):
                found = self.find(child, text, button)
                if found:
                    return found
        except GLib.Error:
            pass  # a node that went away while we looked
        return None


def main():
    text = sys.argv[1]
    deadline = time.monotonic() + (float(sys.argv[2]) if len(sys.argv) > 2 else 30.0)
    tree = Tree(connect())
    root = ('org.a11y.atspi.Registry', '/org/a11y/atspi/accessible/root')
    while time.monotonic() < deadline:
        button = tree.find(root, text)
        if button:
            tree.call(button[0], button[1], 'org.a11y.atspi.Action', 'DoAction', GLib.Variant('(i)', (0,)))
            return 0
        time.sleep(0.25)
    print(f'no button "{text}" appeared', file=sys.stderr)
    return 1


sys.exit(main())
