#pragma once
// Where the keyboard belongs while window-modal dialogs are open, as plain rules over a tree of
// windows: `Tree` answers `standsOn(w)` (the window `w` is a child of or transient for, or null)
// and `modality(w)`, for windows of any type `W`.

#include <algorithm>
#include <vector>

#include <Qt>

namespace velk::ModalKeyboard {

// The window and those it stands on, nearest first.
template <class Tree, class W>
std::vector<const W*> lineage(const Tree& tree, const W* window) {
    std::vector<const W*> windows;
    for (; window; window = tree.standsOn(window)) windows.push_back(window);
    return windows;
}

template <class W>
bool holds(const std::vector<const W*>& windows, const W* window) {
    return std::find(windows.begin(), windows.end(), window) != windows.end();
}

// Whether `modal`, shown modal, keeps input from `window`, as Qt judges it: a window-modal one
// blocks every window it stands on and every window that stands on one of those, except itself and
// the windows that stand on it.
template <class Tree, class W>
bool blocks(const Tree& tree, const W& modal, const W& window) {
    if (tree.modality(&modal) == Qt::NonModal) return false;
    const std::vector<const W*> standsOn = lineage(tree, &window);
    if (holds(standsOn, &modal)) return false;
    if (tree.modality(&modal) == Qt::ApplicationModal) return true;
    const std::vector<const W*> under = lineage(tree, tree.standsOn(&modal));
    return std::any_of(standsOn.begin(), standsOn.end(), [&](const W* each) { return holds(under, each); });
}

// The dialog that takes the keyboard for `window`: of the open ones (oldest first), the latest that
// blocks it, since the dialogs opened over it later stand above the earlier ones; none when nothing
// blocks it. Another window's dialog never takes it, and as Qt has it, a dialog is not blocked by
// those opened before it (an alert over a window is not blocked by that window's sheet).
template <class Tree, class W>
const W* blockingDialog(const Tree& tree, const std::vector<const W*>& openOldestFirst, const W& window) {
    for (auto each = openOldestFirst.rbegin(); each != openOldestFirst.rend(); ++each) {
        if (*each == &window) return nullptr;
        if (blocks(tree, **each, window)) return *each;
    }
    return nullptr;
}

// Where the keyboard goes when a dialog that had it closes: to the window it was opened on, or to
// the dialog still open that blocks that window.
template <class Tree, class W>
const W& keyboardAfterClosing(const Tree& tree, const std::vector<const W*>& stillOpen, const W& openedOn) {
    const W* dialog = blockingDialog(tree, stillOpen, openedOn);
    return dialog ? *dialog : openedOn;
}

// Whether a dialog that opens asks for attention: the user works elsewhere, in no window of the
// application (`focused` null) or in one the dialog neither blocks nor stands on, so the window
// manager may keep the keyboard there and leave the dialog unseen.
template <class Tree, class W>
bool asksForAttention(const Tree& tree, const W& dialog, const W* focused) {
    if (!focused) return true;
    return !blocks(tree, dialog, *focused) && !holds(lineage(tree, &dialog), focused) &&
           !holds(lineage(tree, focused), &dialog);
}

// Whether a dialog opens beneath, asking for attention without taking the keyboard: the user works in
// another of the application's windows, which the dialog neither blocks nor stands on (the Library's
// alert at the end of a pairing while the user works in the Director). Where the user works in no
// window of the application, the window manager weighs the dialog as any other program's window.
template <class Tree, class W>
bool opensBeneath(const Tree& tree, const W& dialog, const W* focused) {
    return focused && asksForAttention(tree, dialog, focused);
}

} // namespace velk::ModalKeyboard
