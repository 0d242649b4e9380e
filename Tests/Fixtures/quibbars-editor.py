#!/usr/bin/python3
"""A small GTK 3 editor whose menus and open document other programs read through the
accessibility bus.

    quibbars-editor.py [--document FILE] [--deep-menus] [--vast-table]

Its program name is its desktop ID, quibbars-editor, so its window's WM_CLASS names that entry.
--document (or QUIB_FIXTURE_DOCUMENT) names the file it shows as open: the document element of
its window reports it as a file:// URL in the attribute "DocURL". --deep-menus adds a submenu
chain under View: "Level Three" (Ctrl+Alt+3) is an item of a submenu of a submenu of View,
"Level Four" (Ctrl+Alt+4) one level further down. --vast-table shows, in place of the document, a
table whose accessible claims 2**31 - 1 cells, as a spreadsheet's does.

It prints "ready" once its window is shown.
"""

import argparse
import os
import pathlib
import sys

import gi

DESKTOP_ID = "quibbars-editor"

# Before GTK starts: it names the window class after the program when it opens the display.
from gi.repository import GLib  # noqa: E402

GLib.set_prgname(DESKTOP_ID)
gi.require_version("Gtk", "3.0")
gi.require_version("Atk", "1.0")
from gi.repository import Atk, Gtk  # noqa: E402

# (menu, [(title, accelerator)]), accelerators as GTK names them.
MENUS = [
    ("File", [("New Tab", "<Primary>t"), ("Save", "<Primary>s"), ("Close Window", "<Primary>w")]),
    ("Edit", [("Undo Typing", "<Primary>z"), ("Redo", "<Primary><Shift>z"), ("Copy", "<Primary>c"),
              ("Paste", "<Primary>v"), ("Find", "<Primary>f")]),
    ("View", [("Reload This Page", "F5"), ("Toggle Terminal", "<Primary>grave")]),
]

# View ▸ Panels ▸ Layout ▸ Level Three, and ▸ Nested ▸ Level Four below it.
DEEP_CHAIN = ("Panels", "Layout", ("Level Three", "<Primary><Alt>3"), "Nested", ("Level Four", "<Primary><Alt>4"))


class DocumentAccessible(Gtk.LabelAccessible, Atk.Document):
    """The accessible of the document view: a document whose URL is the open file's."""

    url = ""

    def do_get_role(self):
        return Atk.Role.DOCUMENT_TEXT

    def do_get_document_attribute_value(self, name):
        return self.url if name == "DocURL" else None

    def do_get_document_type(self):
        return "text/plain"

    def do_get_document_locale(self):
        return "en_GB"


class DocumentView(Gtk.Label):
    pass


DocumentView.set_accessible_type(DocumentAccessible)


class VastTableAccessible(Gtk.LabelAccessible):
    """A table that claims as many cells as a count can hold. Python cannot make the cells (the
    child getter is not introspectable), so each one asked for is a failed read: the count is what
    a reader must not trust."""

    def do_get_role(self):
        return Atk.Role.TABLE

    def do_get_n_children(self):
        return 2**31 - 1

    # Its cells are not walked by the accessibility bridge, as a spreadsheet's are not.
    def do_ref_state_set(self):
        states = Gtk.LabelAccessible.do_ref_state_set(self)
        states.add_state(Atk.StateType.MANAGES_DESCENDANTS)
        return states


class VastTable(Gtk.Label):
    pass


VastTable.set_accessible_type(VastTableAccessible)


def menu_item(title, accelerator, accel_group):
    item = Gtk.MenuItem.new_with_label(title)
    if accelerator:
        key, mods = Gtk.accelerator_parse(accelerator)
        if key == 0:
            raise SystemExit(f"bad accelerator {accelerator}")
        item.add_accelerator("activate", accel_group, key, mods, Gtk.AccelFlags.VISIBLE)
    return item


def submenu(title, parent):
    item = Gtk.MenuItem.new_with_label(title)
    menu = Gtk.Menu()
    item.set_submenu(menu)
    parent.append(item)
    return menu


def add_deep_chain(view_menu, accel_group):
    panels, layout, third, nested, fourth = DEEP_CHAIN
    level2 = submenu(layout, submenu(panels, view_menu))
    level2.append(menu_item(*third, accel_group))
    submenu(nested, level2).append(menu_item(*fourth, accel_group))


def menu_bar(accel_group, deep):
    bar = Gtk.MenuBar()
    for title, items in MENUS:
        menu = submenu(title, bar)
        for item_title, accelerator in items:
            menu.append(menu_item(item_title, accelerator, accel_group))
        if deep and title == "View":
            add_deep_chain(menu, accel_group)
    return bar


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--document", default=os.environ.get("QUIB_FIXTURE_DOCUMENT", ""))
    parser.add_argument("--deep-menus", action="store_true")
    parser.add_argument("--vast-table", action="store_true")
    options = parser.parse_args()

    GLib.set_application_name("Bars Editor")
    window = Gtk.Window(title="Bars Editor")
    window.set_default_size(480, 320)
    window.connect("destroy", Gtk.main_quit)
    accel_group = Gtk.AccelGroup()
    window.add_accel_group(accel_group)

    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
    box.pack_start(menu_bar(accel_group, options.deep_menus), False, False, 0)
    if options.vast_table:
        box.pack_start(VastTable(label="cells"), True, True, 0)
    else:
        document = DocumentView(label=options.document or "(no document)")
        if options.document:
            document.get_accessible().url = pathlib.Path(options.document).absolute().as_uri()
        box.pack_start(document, True, True, 0)
    window.add(box)
    window.show_all()
    window.present()
    GLib.idle_add(lambda: print("ready", flush=True) and False)
    Gtk.main()


if __name__ == "__main__":
    sys.exit(main())
