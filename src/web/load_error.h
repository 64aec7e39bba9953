// A failed load as the web host sees it: WebKit's GError copied into a value
// where it enters (WebViewHost), and the one classifier that decides what the
// failure means for the load state.
//
// The classes follow what the load state needs: a cancelled load is not an
// error to show; an offline failure shows the offline overlay; any other
// network failure shows its message and clears the offline flag; a failure
// outside the network layer (policy, plug-in, download) shows its message and
// leaves the offline flag alone.
//
// THREAD-SAFETY: values and pure functions.
#pragma once

#include "core/load_error.h"

namespace orvik {

enum class LoadErrorKind {
  cancelled,  // the load was stopped or replaced by another
  offline,    // no route to the network, the connection dropped, or the host name does not resolve
  network,    // any other failure of the network layer (refused, TLS, time-out, HTTP layer)
  other,      // not a network failure (navigation policy, plug-ins, downloads)
};

LoadErrorKind classifyLoadError(const LoadError& error);

}  // namespace orvik
