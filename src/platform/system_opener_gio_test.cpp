#include <gio/gio.h>
#include <gtest/gtest.h>

#include "platform/system_opener.h"
#include "platform/test_support/main_loop.h"
#include "platform/test_support/private_session_bus.h"
#include "platform/test_support/scoped_environment.h"

namespace orvik::platform {
namespace {

using orvik::testing::PrivateSessionBus;
using orvik::testing::TestHome;

constexpr const char* kFileManagerXml =
    "<node><interface name='org.freedesktop.FileManager1'>"
    "<method name='ShowItems'><arg type='as' direction='in'/><arg type='s' direction='in'/></method>"
    "</interface></node>";

// A file manager on the private bus that records what it is asked to show.
class FakeFileManager {
 public:
  explicit FakeFileManager(const std::string& address) {
    connection_ = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (!connection_) return;
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kFileManagerXml, nullptr);
    static const GDBusInterfaceVTable vtable = {&FakeFileManager::onCall, nullptr, nullptr, {}};
    g_dbus_connection_register_object(connection_, "/org/freedesktop/FileManager1", node->interfaces[0], &vtable, this,
                                      nullptr, nullptr);
    g_dbus_node_info_unref(node);
    GVariant* reply = g_dbus_connection_call_sync(
        connection_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.FileManager1", 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr);
    if (reply) g_variant_unref(reply);
  }
  ~FakeFileManager() {
    if (connection_) g_object_unref(connection_);
  }

  bool ready() const { return connection_ != nullptr; }
  std::vector<std::vector<std::string>> calls;

 private:
  static void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* parameters,
                     GDBusMethodInvocation* invocation, gpointer self) {
    GVariantIter* uris = nullptr;
    const gchar* startupId = nullptr;
    g_variant_get(parameters, "(as&s)", &uris, &startupId);
    std::vector<std::string> call;
    const gchar* uri = nullptr;
    while (g_variant_iter_next(uris, "&s", &uri)) call.emplace_back(uri);
    g_variant_iter_free(uris);
    static_cast<FakeFileManager*>(self)->calls.push_back(std::move(call));
    g_dbus_method_invocation_return_value(invocation, nullptr);
  }

  GDBusConnection* connection_ = nullptr;
};

TEST(GioSystemOpenerIntegration, RevealAsksTheFileManagerToShowTheFile) {
  TestHome home;
  PrivateSessionBus bus;
  ASSERT_FALSE(bus.address().empty());
  if (!bus.isProcessSessionBus()) GTEST_SKIP() << "an earlier test in this process holds another session bus";
  FakeFileManager fileManager(bus.address());
  ASSERT_TRUE(fileManager.ready());

  auto opener = makeGioSystemOpener();
  opener->revealFile(home.path() / "a folder" / "web_load_diagnostics.log");
  // The call and its answer travel through this thread's main context; the
  // test's time-out bounds the wait.
  ASSERT_TRUE(orvik::testing::runMainLoopUntil([&] { return !fileManager.calls.empty(); }));

  ASSERT_EQ(fileManager.calls.size(), 1u);
  const std::string expected = "file://" + home.path().string() + "/a%20folder/web_load_diagnostics.log";
  EXPECT_EQ(fileManager.calls[0], std::vector<std::string>{expected});
}

}  // namespace
}  // namespace orvik::platform
