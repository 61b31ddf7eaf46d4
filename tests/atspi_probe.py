# Reads the window's accessible tree as a screen reader does, through the
# AT-SPI registry, and checks that each port menu is labelled by its
# channel's heading. Exit 0 when it is, 1 when not, 2 when no window shows.
import sys
import time

import pyatspi

HEADINGS = {"Vardelo 1 Serial Port", "Vardelo 2 Serial Port"}


def find_app(name, seconds):
    deadline = time.time() + seconds
    while time.time() < deadline:
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name and name in app.name.lower():
                return app
        time.sleep(0.3)
    return None


def combo_boxes(node, depth=0):
    if node is None or depth > 12:
        return
    if node.getRoleName() == "combo box":
        yield node
    for child in node:
        yield from combo_boxes(child, depth + 1)


def labels_of(node):
    names = []
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            names += [relation.getTarget(i).name for i in range(relation.getNTargets())]
    return names


app = find_app("vardelolink", 30)
if app is None:
    print("no VardeloLink window in the accessible tree")
    sys.exit(2)
found = sorted(tuple(labels_of(box)) for box in combo_boxes(app))
print("port menus labelled by:", found)
sys.exit(0 if found == sorted((h,) for h in HEADINGS) else 1)
