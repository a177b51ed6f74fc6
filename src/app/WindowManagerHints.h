// SPDX-License-Identifier: MIT
// What the main window asks of an X11 window manager beyond what Qt tells it.
#pragma once

class QWidget;

// Tells the window manager, through the Motif hints most of them read, that
// the window can be moved and closed but not resized, minimised or maximised,
// and that its title bar carries only the system menu and the close button.
// Qt always announces resizing there, even for a window of fixed size. Call
// before the window is first mapped; elsewhere than on X11 it does nothing.
void AnnounceFixedDialogFrame(QWidget* window);
