// A desktop notification service of the tests' own: a private session bus
// (GIO's GTestDBus, which sets DBUS_SESSION_BUS_ADDRESS for the children),
// with org.freedesktop.Notifications served on a thread of its own, every
// Notify kept for the test to read. Asked to, it presses an action as soon
// as the n-th notification that offers it is shown, as a user would.
//
// Construct and read from the test's thread; the service answers on its own.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pixmoor::testing {

struct ShownNotification {
  std::uint32_t id = 0;
  std::uint32_t replaces = 0;
  std::string summary;
  std::string body;
  std::vector<std::string> actions;  // keys and labels, in turn
};

class FakeNotifications {
 public:
  explicit FakeNotifications(std::string pressAction = {}, int pressOnOffer = 1)
      : pressAction_(std::move(pressAction)), pressOnOffer_(pressOnOffer) {
    bus_ = g_test_dbus_new(G_TEST_DBUS_NONE);
    g_test_dbus_up(bus_);
    thread_ = std::thread([this] { serve(); });
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::minutes(1), [this] { return ready_ != 0; });
  }
  ~FakeNotifications() {
    // Quit from inside the loop, so that a loop not yet running cannot miss it.
    if (ready_ == 1) {
      g_main_context_invoke(
          context_,
          [](gpointer loop) {
            g_main_loop_quit(static_cast<GMainLoop*>(loop));
            return G_SOURCE_REMOVE;
          },
          loop_);
    }
    thread_.join();
    g_test_dbus_down(bus_);
    g_object_unref(bus_);
  }
  bool serving() const { return ready_ == 1; }

  std::vector<ShownNotification> shown() {
    const std::lock_guard lock(mutex_);
    return shown_;
  }

 private:
  static constexpr const char* kXml =
      "<node><interface name='org.freedesktop.Notifications'>"
      "<method name='Notify'><arg type='s' direction='in'/><arg type='u' direction='in'/>"
      "<arg type='s' direction='in'/><arg type='s' direction='in'/><arg type='s' direction='in'/>"
      "<arg type='as' direction='in'/><arg type='a{sv}' direction='in'/><arg type='i' direction='in'/>"
      "<arg type='u' direction='out'/></method>"
      "<method name='GetCapabilities'><arg type='as' direction='out'/></method>"
      "<method name='CloseNotification'><arg type='u' direction='in'/></method>"
      "<method name='GetServerInformation'><arg type='s' direction='out'/><arg type='s' direction='out'/>"
      "<arg type='s' direction='out'/><arg type='s' direction='out'/></method>"
      "<signal name='ActionInvoked'><arg type='u'/><arg type='s'/></signal>"
      "</interface></node>";

  static void call(GDBusConnection* connection, const gchar*, const gchar* path, const gchar* interface,
                   const gchar* method, GVariant* parameters, GDBusMethodInvocation* invocation,
                   gpointer data) {
    auto* self = static_cast<FakeNotifications*>(data);
    const std::string name = method;
    if (name == "GetCapabilities") {
      const gchar* capabilities[] = {"body", "actions", nullptr};
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(^as)", capabilities));
    } else if (name == "GetServerInformation") {
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(ssss)", "fake", "test", "1", "1.2"));
    } else if (name == "CloseNotification") {
      g_dbus_method_invocation_return_value(invocation, nullptr);
    } else {
      ShownNotification shown;
      const gchar *app, *icon, *summary, *body;
      GVariantIter* actions = nullptr;
      GVariantIter* hints = nullptr;
      gint32 timeout = 0;
      g_variant_get(parameters, "(&su&s&s&sasa{sv}i)", &app, &shown.replaces, &icon, &summary, &body,
                    &actions, &hints, &timeout);
      shown.summary = summary;
      shown.body = body;
      for (const gchar* action; g_variant_iter_next(actions, "&s", &action);) shown.actions.push_back(action);
      g_variant_iter_free(actions);
      g_variant_iter_free(hints);
      bool press = false;
      {
        const std::lock_guard lock(self->mutex_);
        shown.id = shown.replaces != 0 ? shown.replaces : ++self->lastId_;
        for (std::size_t i = 0; i < shown.actions.size(); i += 2)
          press |= shown.actions[i] == self->pressAction_ && ++self->offers_ == self->pressOnOffer_;
        self->shown_.push_back(shown);
      }
      self->changed_.notify_all();
      g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", shown.id));
      if (press) {
        g_dbus_connection_emit_signal(connection, nullptr, path, interface, "ActionInvoked",
                                      g_variant_new("(us)", shown.id, self->pressAction_.c_str()), nullptr);
      }
    }
  }

  void serve() {
    GMainContext* context = g_main_context_new();
    context_ = context;
    g_main_context_push_thread_default(context);
    GDBusConnection* connection = g_dbus_connection_new_for_address_sync(
        g_test_dbus_get_bus_address(bus_),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
    const GDBusInterfaceVTable table = {&call, nullptr, nullptr, {}};
    bool ok = connection != nullptr && node != nullptr &&
              g_dbus_connection_register_object(connection, "/org/freedesktop/Notifications",
                                                node->interfaces[0], &table, this, nullptr, nullptr) != 0;
    if (ok) {
      GVariant* reply = g_dbus_connection_call_sync(
          connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
          g_variant_new("(su)", "org.freedesktop.Notifications", 4u), G_VARIANT_TYPE("(u)"),
          G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
      ok = reply != nullptr;
      if (reply != nullptr) g_variant_unref(reply);
    }
    loop_ = g_main_loop_new(context, FALSE);
    {
      const std::lock_guard lock(mutex_);
      ready_ = ok ? 1 : 2;
    }
    changed_.notify_all();
    if (ok) g_main_loop_run(loop_);
    g_main_loop_unref(loop_);
    if (node != nullptr) g_dbus_node_info_unref(node);
    if (connection != nullptr) {
      g_dbus_connection_close_sync(connection, nullptr, nullptr);
      g_object_unref(connection);
    }
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
  }

  std::string pressAction_;
  int pressOnOffer_ = 1;
  int offers_ = 0;
  GTestDBus* bus_ = nullptr;
  GMainContext* context_ = nullptr;
  GMainLoop* loop_ = nullptr;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable changed_;
  int ready_ = 0;  // 1 serving, 2 failed
  std::uint32_t lastId_ = 0;
  std::vector<ShownNotification> shown_;
};

}  // namespace pixmoor::testing
