// The yardstick of the start-up benchmark (startup_bench.mjs): the least a
// program needs to show a page in WebKitGTK, one window with one web view of
// the main window's default size, nothing else.
//   bench_minimal_web_window URL [SERVER_CERTIFICATE_PEM]
// The certificate, when given, is accepted for the URL's host (the local
// service's throwaway chain). Ends on SIGTERM or SIGINT.
#include <glib-unix.h>
#include <gtk/gtk.h>
#include <webkit/webkit.h>

#include <csignal>
#include <cstdio>

namespace {

gboolean quit(gpointer loop) {
  g_main_loop_quit(static_cast<GMainLoop*>(loop));
  return G_SOURCE_REMOVE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s URL [SERVER_CERTIFICATE_PEM]\n", argv[0]);
    return 2;
  }
  gtk_init();
  if (argc > 2) {
    GError* error = nullptr;
    GTlsCertificate* certificate = g_tls_certificate_new_from_file(argv[2], &error);
    GUri* uri = g_uri_parse(argv[1], G_URI_FLAGS_NONE, nullptr);
    if (!certificate || !uri) {
      std::fprintf(stderr, "cannot read %s or %s\n", argv[2], argv[1]);
      return 2;
    }
    webkit_network_session_allow_tls_certificate_for_host(webkit_network_session_get_default(), certificate,
                                                          g_uri_get_host(uri));
    g_object_unref(certificate);
    g_uri_unref(uri);
  }
  GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
  GtkWidget* window = gtk_window_new();
  gtk_window_set_default_size(GTK_WINDOW(window), 1200, 824);
  g_signal_connect_swapped(window, "destroy", G_CALLBACK(g_main_loop_quit), loop);
  GtkWidget* view = webkit_web_view_new();
  gtk_window_set_child(GTK_WINDOW(window), view);
  gtk_window_present(GTK_WINDOW(window));
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), argv[1]);
  g_unix_signal_add(SIGTERM, quit, loop);
  g_unix_signal_add(SIGINT, quit, loop);
  g_main_loop_run(loop);
  g_main_loop_unref(loop);
  return 0;
}
