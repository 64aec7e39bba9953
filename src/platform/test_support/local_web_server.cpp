#include "platform/test_support/local_web_server.h"

#include <algorithm>

#include <libsoup/soup.h>

#include "platform/test_support/subprocess.h"

namespace orvik::testing {

TestCertificates::TestCertificates(const std::filesystem::path& folder)
    : caFile(folder / "ca.pem"), leafFile(folder / "leaf.pem"), leafKeyFile(folder / "leaf.key") {
  const auto caKey = (folder / "ca.key").string();
  const auto request = (folder / "leaf.csr").string();
  const auto extensions = (folder / "leaf.ext").string();
  {
    FILE* file = std::fopen(extensions.c_str(), "w");
    if (!file) return;
    std::fputs("basicConstraints=critical,CA:FALSE\nextendedKeyUsage=serverAuth\n"
               "subjectAltName=IP:127.0.0.1\n",
               file);
    std::fclose(file);
  }
  const std::vector<std::vector<std::string>> steps = {
      {"openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-384", "-out", caKey},
      {"openssl", "req", "-x509", "-new", "-key", caKey, "-subj", "/CN=TEST-ONLY local CA", "-days", "2", "-addext",
       "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign", "-out",
       caFile.string()},
      {"openssl", "genpkey", "-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-384", "-out", leafKeyFile.string()},
      {"openssl", "req", "-new", "-key", leafKeyFile.string(), "-subj", "/CN=127.0.0.1", "-out", request},
      {"openssl", "x509", "-req", "-in", request, "-CA", caFile.string(), "-CAkey", caKey, "-CAcreateserial", "-days",
       "2", "-extfile", extensions, "-out", leafFile.string()},
  };
  for (const auto& step : steps) {
    if (runProcess(step).exitCode != 0) return;
  }
  ok = true;
}

LocalWebServer::LocalWebServer(const TestCertificates* certificates) {
  GError* error = nullptr;
  GTlsCertificate* certificate = nullptr;
  if (certificates) {
    certificate = g_tls_certificate_new_from_files(certificates->leafFile.c_str(), certificates->leafKeyFile.c_str(),
                                                   &error);
    if (!certificate) {
      g_printerr("LocalWebServer: %s\n", error->message);
      g_error_free(error);
      return;
    }
    https_ = true;
  }
  server_ = certificate ? SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, "tls-certificate", certificate, nullptr))
                        : SOUP_SERVER(g_object_new(SOUP_TYPE_SERVER, nullptr));
  if (certificate) g_object_unref(certificate);
  soup_server_add_handler(server_, nullptr, &LocalWebServer::handle, this, nullptr);
  const auto options = static_cast<SoupServerListenOptions>(SOUP_SERVER_LISTEN_IPV4_ONLY |
                                                            (https_ ? SOUP_SERVER_LISTEN_HTTPS : 0));
  if (!soup_server_listen_local(server_, 0, options, &error)) {
    g_printerr("LocalWebServer: %s\n", error->message);
    g_error_free(error);
    return;
  }
  GSList* uris = soup_server_get_uris(server_);
  if (uris) port_ = g_uri_get_port(static_cast<GUri*>(uris->data));
  g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
}

LocalWebServer::~LocalWebServer() {
  for (auto* message : hanging_) g_object_unref(message);
  if (server_) {
    soup_server_disconnect(server_);
    g_object_unref(server_);
  }
}

std::string LocalWebServer::url(const std::string& path, const std::string& host) const {
  return std::string(https_ ? "https" : "http") + "://" + host + ":" + std::to_string(port_) + path;
}

bool LocalWebServer::received(const std::string& path) const {
  return std::any_of(requests_.begin(), requests_.end(), [&](const std::string& request) {
    return request.substr(request.find(' ') + 1) == path;
  });
}

void LocalWebServer::handle(SoupServer*, SoupServerMessage* message, const char* path, GHashTable*, void* data) {
  auto* self = static_cast<LocalWebServer*>(data);
  GUri* uri = soup_server_message_get_uri(message);
  self->requests_.push_back(std::string(g_uri_get_host(uri) ? g_uri_get_host(uri) : "") + " " + path);
  const auto found = self->routes_.find(path);
  if (found == self->routes_.end()) {
    soup_server_message_set_status(message, 404, nullptr);
    return;
  }
  const auto& response = found->second;
  if (response.hang) {
    soup_server_message_pause(message);
    self->hanging_.push_back(SOUP_SERVER_MESSAGE(g_object_ref(message)));
    return;
  }
  soup_server_message_set_status(message, response.status, nullptr);
  soup_message_headers_append(soup_server_message_get_response_headers(message), "Cache-Control", "no-store");
  soup_server_message_set_response(message, response.contentType.c_str(), SOUP_MEMORY_COPY, response.body.data(),
                                   response.body.size());
}

}  // namespace orvik::testing
