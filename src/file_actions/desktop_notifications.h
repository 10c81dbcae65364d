// The desktop's notification service (org.freedesktop.Notifications on the
// session bus, which every desktop provides): showing, replacing and
// hearing the actions of our notifications.
//
// One thread: the one that runs the default GLib main context, where the
// action callback is called. No session bus or no service is a value
// (connect gives nothing, notify gives 0), never an exception.
#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace pixmoor::file_actions {

class DesktopNotifications {
 public:
  // The session bus of the environment; nothing when there is none.
  static std::unique_ptr<DesktopNotifications> connect();
  ~DesktopNotifications();
  DesktopNotifications(const DesktopNotifications&) = delete;
  DesktopNotifications& operator=(const DesktopNotifications&) = delete;

  // Shows a notification, replacing `replaces` when not 0; `actions` are
  // (key, label) pairs. Its id, or 0 when the service did not answer.
  std::uint32_t notify(std::uint32_t replaces, const std::string& summary, const std::string& body,
                       const std::vector<std::pair<std::string, std::string>>& actions, bool resident);

  // Whether the service reads the body as markup (then text must be escaped).
  bool bodyMarkup() const { return bodyMarkup_; }

  // Called with the notification's id and the action's key.
  void onAction(std::function<void(std::uint32_t, const std::string&)> callback);

 private:
  explicit DesktopNotifications(GDBusConnection* bus);
  static void actionInvoked(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                            GVariant* parameters, gpointer self);

  GDBusConnection* bus_;
  guint subscription_ = 0;
  bool bodyMarkup_ = false;
  std::function<void(std::uint32_t, const std::string&)> callback_;
};

}  // namespace pixmoor::file_actions
