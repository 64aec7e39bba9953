#!/usr/bin/python3
# Reads and presses a running program's own windows the way a screen reader
# would: through the accessibility bus (AT-SPI) of the session bus this
# process is on. Web content is not walked.
#
# Runs until its input ends, answering each request (one JSON line) with one
# JSON line:
#   {"do": "texts"}   the titles of the showing windows and the texts of
#                     their shown labels, in tree order:
#                     {"texts": ["Orvik – Audio Call", "00:07", …]}
#   {"do": "press", "window": REGEX, "count": N, "index": I}
#                     presses the I-th (from 0) button of the first row of
#                     exactly N buttons in a showing window whose title
#                     matches REGEX (an icon-only button has no name to
#                     find it by): {"pressed": true} or {"pressed": false}
import json
import re
import sys

from gi.repository import GLib

from a11y_bus import connect

ACCESSIBLE = 'org.a11y.atspi.Accessible'
BUTTON_ROLES = ('button', 'push button', 'toggle button')
LABEL_ROLES = ('label',)
WINDOW_ROLES = ('window', 'frame', 'dialog')
SKIPPED_ROLES = ('document web', 'html container', 'internal frame')
# AT-SPI state bits (atspi-constants.h): ATSPI_STATE_SHOWING = 25.
STATE_SHOWING = 25


class Tree:
    def __init__(self, bus):
        self.bus = bus

    def call(self, node, interface, method, args=None):
        return self.bus.call_sync(node[0], node[1], interface, method, args, None, 0, 5000).unpack()

    def name(self, node):
        value = self.call(node, 'org.freedesktop.DBus.Properties', 'Get', GLib.Variant('(ss)', (ACCESSIBLE, 'Name')))[0]
        return value if isinstance(value, str) else ''

    def role(self, node):
        return self.call(node, ACCESSIBLE, 'GetRoleName')[0]

    def showing(self, node):
        words = self.call(node, ACCESSIBLE, 'GetState')[0]
        return bool(words[STATE_SHOWING // 32] & (1 << (STATE_SHOWING % 32)))

    def children(self, node):
        return [tuple(child) for child in self.call(node, ACCESSIBLE, 'GetChildren')[0]]

    # Every node below `node` that is not web content, with its role, parents
    # before children. GTK leaves hidden widgets out of the tree; a hidden
    # window is left out here.
    def walk(self, node, found):
        try:
            role = self.role(node)
            if role in SKIPPED_ROLES or (role in WINDOW_ROLES and not self.showing(node)):
                return
            found.append((node, role))
            for child in self.children(node):
                self.walk(child, found)
        except GLib.Error:
            pass  # a node that went away while we looked


ROOT = ('org.a11y.atspi.Registry', '/org/a11y/atspi/accessible/root')


# The windows of every application on the bus.
def walk_children(tree, root):
    windows = []
    for application in tree.children(root):
        try:
            windows.extend((child, tree.role(child)) for child in tree.children(application))
        except GLib.Error:
            pass
    return windows


def texts(tree):
    found = []
    tree.walk(ROOT, found)
    result = []
    for node, role in found:
        if role in LABEL_ROLES or role in WINDOW_ROLES:
            try:
                result.append(tree.name(node))
            except GLib.Error:
                pass
    return {'texts': result}


def press(tree, window, count, index):
    found = []
    for node, role in walk_children(tree, ROOT):
        if role in WINDOW_ROLES and re.fullmatch(window, tree.name(node)):
            tree.walk(node, found)
    for node, role in found:
        try:
            buttons = [child for child in tree.children(node) if tree.role(child) in BUTTON_ROLES]
        except GLib.Error:
            continue
        if len(buttons) == count:
            tree.call(buttons[index], 'org.a11y.atspi.Action', 'DoAction', GLib.Variant('(i)', (0,)))
            return {'pressed': True}
    return {'pressed': False}


def main():
    tree = None
    for line in sys.stdin:
        if not line.strip():
            continue
        request = json.loads(line)
        try:
            if tree is None:
                tree = Tree(connect())
            if request.get('do') == 'texts':
                answer = texts(tree)
            elif request.get('do') == 'press':
                answer = press(tree, request['window'], int(request['count']), int(request['index']))
            else:
                answer = {'error': f'unknown request {line.strip()}'}
        except GLib.Error as error:
            answer = {'error': str(error)}
            tree = None
        print(json.dumps(answer), flush=True)


main()
