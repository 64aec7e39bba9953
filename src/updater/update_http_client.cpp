#include "updater/update_http_client.h"

#include <gio/gio.h>
#include <libsoup/soup.h>

namespace orvik {
namespace {

// A certificate database that trusts a chain only when the update server
// trust accepts it. Every verification of the update sessions comes here.
struct UpdateTlsDatabase {
  GTlsDatabase parent;
  UpdateHttpClient* client;
};
struct UpdateTlsDatabaseClass {
  GTlsDatabaseClass parent;
};

G_DEFINE_TYPE(UpdateTlsDatabase, update_tls_database, G_TYPE_TLS_DATABASE)

std::string identityHost(GSocketConnectable* identity) {
  if (!identity) return {};
  if (G_IS_NETWORK_ADDRESS(identity)) {
    const char* host = g_network_address_get_hostname(G_NETWORK_ADDRESS(identity));
    return host ? host : "";
  }
  if (G_IS_NETWORK_SERVICE(identity)) {
    const char* domain = g_network_service_get_domain(G_NETWORK_SERVICE(identity));
    return domain ? domain : "";
  }
  if (G_IS_INET_SOCKET_ADDRESS(identity)) {
    GInetAddress* address = g_inet_socket_address_get_address(G_INET_SOCKET_ADDRESS(identity));
    char* text = g_inet_address_to_string(address);
    std::string host = text ? text : "";
    g_free(text);
    return host;
  }
  return {};
}

std::vector<CertificateDer> derChain(GTlsCertificate* certificate) {
  std::vector<CertificateDer> chain;
  for (GTlsCertificate* at = certificate; at && chain.size() < 16; at = g_tls_certificate_get_issuer(at)) {
    GByteArray* bytes = nullptr;
    g_object_get(at, "certificate", &bytes, nullptr);
    if (!bytes) break;
    chain.emplace_back(bytes->data, bytes->data + bytes->len);
    g_byte_array_unref(bytes);
  }
  return chain;
}

GTlsCertificateFlags verifyChain(GTlsDatabase* database, GTlsCertificate* chain, const char*,
                                 GSocketConnectable* identity, GTlsInteraction*, GTlsDatabaseVerifyFlags,
                                 GCancellable*, GError**) {
  auto* self = reinterpret_cast<UpdateTlsDatabase*>(database);
  switch (self->client->decideHandshake(identityHost(identity), derChain(chain))) {
    case UpdateTrustVerdict::accepted:
      return static_cast<GTlsCertificateFlags>(0);
    case UpdateTrustVerdict::unknownHost:
      return G_TLS_CERTIFICATE_BAD_IDENTITY;
    case UpdateTrustVerdict::untrusted:
      break;
  }
  return G_TLS_CERTIFICATE_UNKNOWN_CA;
}

GTlsCertificate* lookupNone(GTlsDatabase*, GTlsCertificate*, GTlsInteraction*, GTlsDatabaseLookupFlags, GCancellable*,
                            GError**) {
  return nullptr;
}
GList* lookupIssuedByNone(GTlsDatabase*, GByteArray*, GTlsInteraction*, GTlsDatabaseLookupFlags, GCancellable*,
                          GError**) {
  return nullptr;
}
GTlsCertificate* lookupHandleNone(GTlsDatabase*, const char*, GTlsInteraction*, GTlsDatabaseLookupFlags, GCancellable*,
                                  GError**) {
  return nullptr;
}
char* handleNone(GTlsDatabase*, GTlsCertificate*) { return nullptr; }

void update_tls_database_class_init(UpdateTlsDatabaseClass* klass) {
  auto* database = G_TLS_DATABASE_CLASS(klass);
  database->verify_chain = verifyChain;
  database->lookup_certificate_issuer = lookupNone;
  database->lookup_certificates_issued_by = lookupIssuedByNone;
  database->lookup_certificate_for_handle = lookupHandleNone;
  database->create_certificate_handle = handleNone;
}
void update_tls_database_init(UpdateTlsDatabase*) {}

struct Unref {
  void operator()(gpointer object) const {
    if (object) g_object_unref(object);
  }
};
template <typename T>
using Owned = std::unique_ptr<T, Unref>;

bool isRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

}  // namespace

UpdateHttpClient::UpdateHttpClient(UpdateConnectionSettings settings)
    : settings_(std::move(settings)), cancellable_(g_cancellable_new()) {}

UpdateHttpClient::~UpdateHttpClient() { g_object_unref(cancellable_); }

void UpdateHttpClient::cancel() { g_cancellable_cancel(cancellable_); }

UpdateTrustVerdict UpdateHttpClient::decideHandshake(const std::string& host,
                                                     const std::vector<CertificateDer>& chain) {
  const UpdateTrustVerdict verdict =
      settings_.anchors ? decideUpdateServerTrust(host, chain, settings_.allowedHosts, settings_.pins, *settings_.anchors)
                        : UpdateTrustVerdict::untrusted;
  std::lock_guard lock(mutex_);
  decisions_.push_back({host, verdict});
  return verdict;
}

UpdateHttpClient::Result UpdateHttpClient::get(const std::string& url, const OnResponse& onResponse,
                                               const OnData& onData) {
  Result result;
  {
    std::lock_guard lock(mutex_);
    decisions_.clear();
  }
  auto finish = [this, &result](Outcome outcome) {
    result.outcome = outcome;
    std::lock_guard lock(mutex_);
    result.decisions.insert(result.decisions.begin(), decisions_.begin(), decisions_.end());
    if (outcome == Outcome::refused && !result.refusal) {
      for (const auto& decision : decisions_) {
        if (decision.verdict != UpdateTrustVerdict::accepted) result.refusal = decision;
      }
    }
    return result;
  };

  // A session of its own for each request: no connection outlives it, and
  // nothing is cached.
  Owned<SoupSession> session(soup_session_new_with_options("timeout", settings_.timeoutSeconds, "idle-timeout",
                                                           settings_.timeoutSeconds, nullptr));
  auto* database = static_cast<UpdateTlsDatabase*>(g_object_new(update_tls_database_get_type(), nullptr));
  database->client = this;
  soup_session_set_tls_database(session.get(), G_TLS_DATABASE(database));
  g_object_unref(database);

  std::string current = url;
  for (int redirects = 0;; ++redirects) {
    if (decideUpdateAddress(current, settings_.allowedHosts) != UpdateTrustVerdict::accepted) {
      // Recorded as a decision so that the caller's log and alert name it.
      result.refusal = UpdateTrustEvent{updateAddressHostForAlert(current), UpdateTrustVerdict::unknownHost};
      {
        std::lock_guard lock(mutex_);
        decisions_.push_back(*result.refusal);
      }
      result.error = "refused address " + current;
      return finish(Outcome::refused);
    }
    Owned<SoupMessage> message(soup_message_new(SOUP_METHOD_GET, current.c_str()));
    if (!message) {
      result.error = "unusable address " + current;
      return finish(Outcome::failed);
    }
    soup_message_add_flags(message.get(), SOUP_MESSAGE_NO_REDIRECT);
    GError* error = nullptr;
    Owned<GInputStream> stream(soup_session_send(session.get(), message.get(), cancellable_, &error));
    if (!stream) {
      result.error = error ? error->message : "unknown";
      const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
      const bool badCertificate = g_error_matches(error, G_TLS_ERROR, G_TLS_ERROR_BAD_CERTIFICATE);
      g_clear_error(&error);
      if (cancelled) return finish(Outcome::cancelled);
      if (badCertificate) return finish(Outcome::refused);
      // A refusal may also surface as another TLS error.
      {
        std::lock_guard lock(mutex_);
        for (const auto& decision : decisions_) {
          if (decision.verdict != UpdateTrustVerdict::accepted) {
            result.refusal = decision;
          }
        }
      }
      return finish(result.refusal ? Outcome::refused : Outcome::failed);
    }
    const int status = static_cast<int>(soup_message_get_status(message.get()));
    result.status = status;
    SoupMessageHeaders* headers = soup_message_get_response_headers(message.get());
    if (isRedirect(status)) {
      const char* location = soup_message_headers_get_one(headers, "Location");
      g_input_stream_close(stream.get(), nullptr, nullptr);
      if (!location || redirects >= settings_.maxRedirects) {
        result.error = location ? "too many redirects" : "redirect without a location";
        return finish(Outcome::failed);
      }
      char* next = g_uri_resolve_relative(current.c_str(), location, G_URI_FLAGS_NONE, nullptr);
      if (!next) {
        result.error = "unusable redirect location";
        return finish(Outcome::failed);
      }
      current = next;
      g_free(next);
      continue;
    }
    Response response{status, std::nullopt};
    if (soup_message_headers_get_encoding(headers) == SOUP_ENCODING_CONTENT_LENGTH) {
      response.contentLength = static_cast<std::uint64_t>(soup_message_headers_get_content_length(headers));
    }
    if (!onResponse(response)) {
      g_input_stream_close(stream.get(), nullptr, nullptr);
      return finish(Outcome::stopped);
    }
    std::vector<char> buffer(256 * 1024);
    for (;;) {
      const gssize read = g_input_stream_read(stream.get(), buffer.data(), buffer.size(), cancellable_, &error);
      if (read < 0) {
        result.error = error ? error->message : "read failed";
        const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
        g_clear_error(&error);
        return finish(cancelled ? Outcome::cancelled : Outcome::failed);
      }
      if (read == 0) break;
      if (!onData(buffer.data(), static_cast<std::size_t>(read))) {
        g_input_stream_close(stream.get(), nullptr, nullptr);
        return finish(Outcome::stopped);
      }
    }
    g_input_stream_close(stream.get(), nullptr, nullptr);
    return finish(Outcome::completed);
  }
}

}  // namespace orvik
