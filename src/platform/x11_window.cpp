#include "platform/x11_window.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace pixmoor::platform {

namespace {

struct FreeReply {
  void operator()(void* reply) const noexcept { std::free(reply); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeReply>;

xcb_connection_t* connection() {
  if (qGuiApp == nullptr) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 == nullptr ? nullptr : x11->connection();
}

xcb_atom_t atom(xcb_connection_t* c, const std::string& name) {
  const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.c_str()), nullptr));
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

// The number of the X screen whose root window holds `window`.
int screenOf(xcb_connection_t* c, xcb_window_t window) {
  const Reply<xcb_get_geometry_reply_t> geometry(
      xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
  if (!geometry) return 0;
  int number = 0;
  for (auto it = xcb_setup_roots_iterator(xcb_get_setup(c)); it.rem > 0; xcb_screen_next(&it), ++number) {
    if (it.data->root == geometry->root) return number;
  }
  return 0;
}

// The Motif window manager hints (flags, functions, decorations, input
// mode, status) and the bits used here.
constexpr std::uint32_t kHintFunctions = 1, kHintDecorations = 2;
constexpr std::uint32_t kFunctionResize = 2, kFunctionMove = 4, kFunctionMinimise = 8, kFunctionMaximise = 16,
                        kFunctionClose = 32;
constexpr std::uint32_t kDecorBorder = 2, kDecorResizeHandle = 4, kDecorTitle = 8, kDecorMenu = 16,
                        kDecorMinimise = 32, kDecorMaximise = 64;

}  // namespace

WId nativeWindowOf(QWidget* window) {
  if (window == nullptr) return 0;
  // createWinId makes a top-level's window without marking it native, which
  // is what makes its parent's other children native.
  if (window->windowHandle() == nullptr) window->createWinId();
  const QWindow* handle = window->windowHandle();
  return handle == nullptr ? 0 : handle->winId();
}

bool onX11() {
  return connection() != nullptr;
}

bool x11CompositorRunning(const QWidget* window) {
  xcb_connection_t* c = connection();
  if (c == nullptr || window == nullptr) return false;
  // A shown window has its native window already; asking makes nothing else.
  const auto native = static_cast<xcb_window_t>(nativeWindowOf(const_cast<QWidget*>(window)));
  const xcb_atom_t selection = atom(c, "_NET_WM_CM_S" + std::to_string(screenOf(c, native)));
  if (selection == XCB_ATOM_NONE) return false;
  const Reply<xcb_get_selection_owner_reply_t> owner(
      xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr));
  return owner && owner->owner != XCB_WINDOW_NONE;
}

void setWindowManagerButtons(QWidget* window) {
  xcb_connection_t* c = connection();
  if (c == nullptr || window == nullptr || !window->isWindow()) return;
  const Qt::WindowFlags flags = window->windowFlags();
  if (flags.testFlag(Qt::FramelessWindowHint) || !flags.testFlag(Qt::WindowTitleHint)) return;
  const bool resizable = window->minimumSize() != window->maximumSize();
  std::uint32_t functions = kFunctionMove;
  std::uint32_t decorations = kDecorBorder | kDecorTitle;
  if (resizable) {
    functions |= kFunctionResize;
    decorations |= kDecorResizeHandle;
  }
  if (flags.testFlag(Qt::WindowSystemMenuHint)) decorations |= kDecorMenu;
  if (flags.testFlag(Qt::WindowMinimizeButtonHint)) {
    functions |= kFunctionMinimise;
    decorations |= kDecorMinimise;
  }
  if (flags.testFlag(Qt::WindowMaximizeButtonHint) && resizable) {
    functions |= kFunctionMaximise;
    decorations |= kDecorMaximise;
  }
  if (flags.testFlag(Qt::WindowCloseButtonHint)) functions |= kFunctionClose;
  const std::array<std::uint32_t, 5> hints{kHintFunctions | kHintDecorations, functions, decorations, 0, 0};
  const xcb_atom_t type = atom(c, "_MOTIF_WM_HINTS");
  if (type == XCB_ATOM_NONE) return;
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(nativeWindowOf(window)), type, type,
                      32, static_cast<std::uint32_t>(hints.size()), hints.data());
  xcb_flush(c);
}

}  // namespace pixmoor::platform
