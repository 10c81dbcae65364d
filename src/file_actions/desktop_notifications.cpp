#include "file_actions/desktop_notifications.h"

namespace pixmoor::file_actions {
namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr int kCallTimeoutMs = 5000;

}  // namespace

std::unique_ptr<DesktopNotifications> DesktopNotifications::connect() {
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus == nullptr) return nullptr;
  return std::unique_ptr<DesktopNotifications>(new DesktopNotifications(bus));
}

DesktopNotifications::DesktopNotifications(GDBusConnection* bus) : bus_(bus) {
  subscription_ =
      g_dbus_connection_signal_subscribe(bus_, nullptr, kInterface, "ActionInvoked", kPath, nullptr,
                                         G_DBUS_SIGNAL_FLAGS_NONE, &actionInvoked, this, nullptr);
  GVariant* reply = g_dbus_connection_call_sync(bus_, kService, kPath, kInterface, "GetCapabilities", nullptr,
                                                G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NONE,
                                                kCallTimeoutMs, nullptr, nullptr);
  if (reply != nullptr) {
    GVariantIter* capabilities = nullptr;
    const gchar* capability = nullptr;
    g_variant_get(reply, "(as)", &capabilities);
    while (g_variant_iter_next(capabilities, "&s", &capability)) {
      if (g_strcmp0(capability, "body-markup") == 0) bodyMarkup_ = true;
    }
    g_variant_iter_free(capabilities);
    g_variant_unref(reply);
  }
}

DesktopNotifications::~DesktopNotifications() {
  g_dbus_connection_signal_unsubscribe(bus_, subscription_);
  g_dbus_connection_flush_sync(bus_, nullptr, nullptr);
  g_object_unref(bus_);
}

std::uint32_t DesktopNotifications::notify(std::uint32_t replaces, const std::string& summary,
                                           const std::string& body,
                                           const std::vector<std::pair<std::string, std::string>>& actions,
                                           bool resident) {
  GVariantBuilder actionList;
  g_variant_builder_init(&actionList, G_VARIANT_TYPE("as"));
  for (const auto& [key, label] : actions) {
    g_variant_builder_add(&actionList, "s", key.c_str());
    g_variant_builder_add(&actionList, "s", label.c_str());
  }
  GVariantBuilder hints;
  g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
  g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("pixmoor"));
  if (resident) g_variant_builder_add(&hints, "{sv}", "resident", g_variant_new_boolean(TRUE));
  std::string shownBody = body;
  if (bodyMarkup_) {
    gchar* escaped = g_markup_escape_text(body.c_str(), -1);
    shownBody = escaped;
    g_free(escaped);
  }
  // -1: the service's own time-out; a resident notification stays until used.
  GVariant* reply = g_dbus_connection_call_sync(
      bus_, kService, kPath, kInterface, "Notify",
      g_variant_new("(susssasa{sv}i)", "Pixmoor", replaces, "pixmoor", summary.c_str(), shownBody.c_str(),
                    &actionList, &hints, resident ? 0 : -1),
      G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallTimeoutMs, nullptr, nullptr);
  if (reply == nullptr) return 0;
  guint32 id = 0;
  g_variant_get(reply, "(u)", &id);
  g_variant_unref(reply);
  return id;
}

void DesktopNotifications::onAction(std::function<void(std::uint32_t, const std::string&)> callback) {
  callback_ = std::move(callback);
}

void DesktopNotifications::actionInvoked(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                         const gchar*, GVariant* parameters, gpointer self) {
  auto* notifications = static_cast<DesktopNotifications*>(self);
  if (!notifications->callback_ || !g_variant_is_of_type(parameters, G_VARIANT_TYPE("(us)"))) return;
  guint32 id = 0;
  const gchar* key = nullptr;
  g_variant_get(parameters, "(u&s)", &id, &key);
  notifications->callback_(id, key);
}

}  // namespace pixmoor::file_actions
