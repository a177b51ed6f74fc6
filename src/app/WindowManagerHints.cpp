// SPDX-License-Identifier: MIT
#include "WindowManagerHints.h"

#include <QGuiApplication>
#include <QWidget>

#include <array>
#include <cstdint>
#include <cstdlib>

#ifdef DBF_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace {

// The fields of _MOTIF_WM_HINTS, as the Motif window manager defined them.
enum : std::uint32_t {
    kHintsFunctions = 1U << 0,
    kHintsDecorations = 1U << 1,
};
enum : std::uint32_t {
    kFunctionMove = 1U << 2,
    kFunctionClose = 1U << 5,
};
enum : std::uint32_t {
    kDecorBorder = 1U << 1,
    kDecorTitle = 1U << 3,
    kDecorMenu = 1U << 4,
};

}  // namespace

void AnnounceFixedDialogFrame(QWidget* window)
{
#ifdef DBF_HAVE_XCB
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (!x11 || !x11->connection()) return;
    xcb_connection_t* connection = x11->connection();
    static constexpr char kName[] = "_MOTIF_WM_HINTS";
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(connection, xcb_intern_atom(connection, 0, sizeof kName - 1, kName), nullptr);
    if (!reply) return;
    const xcb_atom_t atom = reply->atom;
    std::free(reply);
    // Flags, functions, decorations, input mode, status.
    const std::array<std::uint32_t, 5> hints = {kHintsFunctions | kHintsDecorations, kFunctionMove | kFunctionClose,
                                                kDecorBorder | kDecorTitle | kDecorMenu, 0, 0};
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(window->winId()), atom, atom, 32,
                        static_cast<std::uint32_t>(hints.size()), hints.data());
    xcb_flush(connection);
#else
    (void)window;
#endif
}
