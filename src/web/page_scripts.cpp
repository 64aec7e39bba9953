#include "web/page_scripts.h"

#include "platform/page_call.h"

namespace orvik::page_scripts {
namespace {

// Keeps the caret of the last focused text field when focus leaves the page
// and comes back, and puts typing back into that field.
constexpr const char* kFocusKeeper = R"JS((function () {
  if (window.__orvikFocusKeeperInstalled) return;
  window.__orvikFocusKeeperInstalled = true;
  var NAV = { ArrowLeft: 1, ArrowRight: 1, ArrowUp: 1, ArrowDown: 1, Home: 1, End: 1, PageUp: 1, PageDown: 1 };
  var tracked = null, start = null, end = null, range = null, composing = false;
  function isField(el) { return el.tagName === 'INPUT' || el.tagName === 'TEXTAREA'; }
  function editableFrom(node) {
    for (var n = node; n && n !== document; n = n.parentNode) {
      if (n.nodeType === 1 && (isField(n) || n.hasAttribute('contenteditable'))) return n;
    }
    return null;
  }
  function save() {
    try {
      if (!tracked) return;
      if (isField(tracked)) {
        if (tracked.selectionStart !== null) { start = tracked.selectionStart; end = tracked.selectionEnd; }
      } else {
        var s = window.getSelection();
        if (s && s.rangeCount && tracked.contains(s.anchorNode)) range = s.getRangeAt(0).cloneRange();
      }
    } catch (e) {}
  }
  function restore() {
    try {
      if (!tracked) return;
      if (isField(tracked)) {
        if (start !== null) tracked.setSelectionRange(start, end);
      } else if (range) {
        var s = window.getSelection();
        s.removeAllRanges();
        s.addRange(range);
      }
    } catch (e) {}
  }
  function onFocus() { restore(); }
  function track(e) {
    var el = editableFrom(e.target);
    if (!el || el === tracked) return;
    if (tracked) tracked.removeEventListener('focus', onFocus);
    tracked = el; start = end = null; range = null;
    el.addEventListener('focus', onFocus);
  }
  document.addEventListener('focusin', track, true);
  document.addEventListener('mousedown', track, true);
  document.addEventListener('compositionstart', function (e) { composing = true; track(e); }, true);
  document.addEventListener('compositionend', function () {
    composing = false;
    requestAnimationFrame(save);
  }, true);
  document.addEventListener('mouseup', function () { save(); }, true);
  document.addEventListener('keyup', function (e) { if (NAV[e.key]) save(); }, true);
  document.addEventListener('input', function (e) {
    if (!e.isTrusted || composing || e.isComposing || e.inputType === 'insertCompositionText') return;
    save();
    requestAnimationFrame(restore);
  }, true);
  document.addEventListener('keydown', function (e) {
    if (e.metaKey || e.ctrlKey || e.altKey) return;
    if (composing || e.isComposing || e.keyCode === 229 || NAV[e.key]) return;
    if (tracked && document.activeElement !== tracked && tracked.isConnected) {
      try { tracked.focus({ preventScroll: true }); } catch (err) {}
      restore();
    }
  }, true);
  window.__orvikRestoreFocus = function () {
    if (!tracked || !tracked.isConnected) return;
    try { tracked.focus({ preventScroll: true }); } catch (e) {}
    restore();
  };
})();)JS";

constexpr const char* kNativeConsole =
    "window.__orvikNativeConsole = { log: console.log.bind(console), warn: console.warn.bind(console), error: "
    "console.error.bind(console) };";

// Copies console lines to the native log through the "logger" handler.
constexpr const char* kConsoleForwarder = R"JS((function () {
  if (window.__orvikConsoleForwarded) return;
  window.__orvikConsoleForwarded = true;
  function text(v) {
    try {
      if (v === undefined) return 'undefined';
      if (v === null) return 'null';
      if (v instanceof Error) return v.name + ': ' + v.message + (v.stack ? '\n' + v.stack : '');
      if (typeof v === 'object') { var j = JSON.stringify(v); return j === undefined ? String(v) : j; }
      return String(v);
    } catch (e) {
      try { return String(v); } catch (e2) { return '?'; }
    }
  }
  function cut(s) { return s.length > 4000 ? s.slice(0, 4000) + '\u2026(' + s.length + ' chars)' : s; }
  ['log', 'warn', 'error'].forEach(function (method) {
    var original = console[method];
    console[method] = function () {
      try {
        var args = Array.prototype.map.call(arguments, function (a) { return cut(text(a)); });
        window.webkit.messageHandlers.logger.postMessage({ type: method, args: args });
      } catch (e) {}
      return original.apply(console, arguments);
    };
  });
})();)JS";

constexpr const char* kImageContextMenuBlocker = R"JS(document.addEventListener('contextmenu', function (e) {
  var t = e.target;
  if (!t || t.nodeType !== 1) return;
  if (t.tagName === 'IMG' || t.tagName === 'VIDEO' || (t.closest && t.closest('img, video, picture'))) e.preventDefault();
}, true);)JS";

// Collects what went wrong while the page loaded, for the render checks.
constexpr const char* kLoadErrorCollector = R"JS((function () {
  if (Array.isArray(window.__orvikLoadErrors)) return;
  var list = window.__orvikLoadErrors = [];
  function add(s) { if (list.length < 15) list.push(String(s).slice(0, 300)); }
  function bare(u) { u = String(u || ''); var i = u.indexOf('?'); return i < 0 ? u : u.slice(0, i); }
  window.addEventListener('error', function (e) {
    var t = e.target;
    if (t && t !== window && t.nodeType === 1) {
      var tag = t.tagName.toLowerCase();
      if (tag === 'script' || tag === 'link') add('resource failed: <' + tag + '> ' + bare(t.src || t.href));
      return;
    }
    add('js error: ' + (e.message || '?') + ' @ ' + bare(e.filename) + ':' + (e.lineno || 0) + ':' + (e.colno || 0));
  }, true);
  window.addEventListener('unhandledrejection', function (e) {
    var r = e.reason;
    add('unhandled rejection: ' + (r && r.message ? r.message : String(r)));
  });
})();)JS";

// Page world, top frame: the page's window.webkit.messageHandlers. A message
// travels as a cancelable event to the isolated world, which acknowledges it
// by cancelling. document.domain cannot be set, so a same-host frame cannot
// make itself same-origin with the top.
constexpr const char* kBridgeShim = R"JS((function () {
  if (window.top !== window) return;
  function handler(name) {
    return Object.freeze({ postMessage: function (body) {
      window.dispatchEvent(new CustomEvent('orvikbridge-' + name, { detail: body, cancelable: true }));
    } });
  }
  var handlers = {};
  __ORVIK_HANDLER_NAMES__.forEach(function (name) { handlers[name] = handler(name); });
  Object.freeze(handlers);
  var webkit = window.webkit || {};
  try { Object.defineProperty(webkit, 'messageHandlers', { value: handlers, enumerable: true }); } catch (e) {}
  try { Object.defineProperty(window, 'webkit', { value: webkit, enumerable: true }); } catch (e) {}
  var domain = Object.getOwnPropertyDescriptor(Document.prototype, 'domain');
  if (domain && domain.get) {
    Object.defineProperty(document, 'domain', {
      get: function () { return domain.get.call(document); },
      set: function () { throw new DOMException('document.domain cannot be changed', 'SecurityError'); }
    });
  }
})();)JS";

// Isolated world, top frame: wraps each message in an envelope built from this
// world's own location, which the page cannot forge.
constexpr const char* kBridgeForwarder = R"JS((function () {
  __ORVIK_HANDLER_NAMES__.forEach(function (name) {
    window.addEventListener('orvikbridge-' + name, function (e) {
      e.preventDefault();
      try {
        window.webkit.messageHandlers[name].postMessage(
          { origin: location.origin, href: location.href, top: window === window.top, body: e.detail });
      } catch (err) {}
    }, true);
  });
})();)JS";

// The call page's console lines to "callWindowLogger", in call-window
// documents only, and once per realm.
constexpr const char* kCallWindowConsole = R"JS((function () {
  if (!/callWindow=true/.test(String(location.href)) || window.__orvikCallLogHooked) return;
  window.__orvikCallLogHooked = true;
  function text(v) {
    if (typeof v === 'object') { try { return JSON.stringify(v); } catch (e) { return String(v); } }
    return String(v);
  }
  ['log', 'warn', 'error'].forEach(function (level) {
    var original = console[level].bind(console);
    console[level] = function () {
      try {
        var msg = Array.prototype.map.call(arguments, text).join(' ');
        window.webkit.messageHandlers.callWindowLogger.postMessage({ level: level, msg: msg });
      } catch (e) {}
      return original.apply(null, arguments);
    };
  });
})();)JS";

std::string withHandlerNames(std::string source, const std::vector<std::string>& names) {
  const std::string placeholder = "__ORVIK_HANDLER_NAMES__";
  source.replace(source.find(placeholder), placeholder.size(), platform::jsLiteral(nlohmann::json(names)));
  return source;
}

std::vector<UserScript> bridgeScriptsFor(const std::vector<std::string>& names) {
  return {{withHandlerNames(kBridgeShim, names), true, {}}, {withHandlerNames(kBridgeForwarder, names), true, kBridgeWorld}};
}

std::string literal(const std::string& text) { return platform::jsLiteral(text); }

}  // namespace

std::string appVersion(const std::string& shortVersion, const std::string& build) {
  return (shortVersion.empty() ? "1.0" : shortVersion) + " (" + (build.empty() ? "1" : build) + ")";
}

std::vector<UserScript> bridgeScripts() {
  return bridgeScriptsFor({kNativeAppHandler, kLoggerHandler, kCallWindowLoggerHandler, kCallWindowReadyHandler});
}

UserScript callWindowConsoleScript() { return {kCallWindowConsole, false, {}}; }

std::string callWindowUdidLogLine(const std::string& deviceUdid) {
  const std::string shown =
      deviceUdid.empty() ? "EMPTY" : "…" + deviceUdid.substr(deviceUdid.size() > 12 ? deviceUdid.size() - 12 : 0);
  return "[udid] injected window.__orvikDeviceUdid into CALL-WINDOW realm (" + shown + ")";
}

std::vector<UserScript> mainViewScripts(const Inputs& inputs) {
  const std::string version = literal(inputs.appVersion);
  std::vector<UserScript> scripts;
  scripts.push_back({kFocusKeeper, false, {}});
  scripts.push_back({kNativeConsole, false, {}});
  scripts.push_back({kConsoleForwarder, false, {}});
  scripts.push_back({"window.APP_VERSION = " + version +
                         ";\nwindow.ORVIK_NATIVE_CALL_SUPPORTED = true;\nwindow.ORVIK_DISTRIBUTION = " +
                         literal(kDistribution) +
                         ";\ntry { window.dispatchEvent(new CustomEvent('appVersionAvailable', { detail: { version: " +
                         version + " } })); } catch (e) {}",
                     false,
                     {}});
  scripts.push_back({"window.__orvikDeviceUdid = " + literal(inputs.deviceUdid) + ";", false, {}});
  if (inputs.storedRingtone && !inputs.storedRingtone->empty()) {
    scripts.push_back({"try{if(!localStorage.getItem('orvik_incomingRingtone'))localStorage.setItem('orvik_"
                       "incomingRingtone'," +
                           literal(*inputs.storedRingtone) + ")}catch(e){}",
                       true,
                       {}});
  }
  scripts.push_back({"window.__orvikHasAppActivationEvents = true;", true, {}});
  scripts.push_back({std::string("window.__orvikNativeVP9 = ") + (inputs.nativeVP9 ? "true" : "false") + ";", true, {}});
  scripts.push_back({"window.__orvikNativeFileDrag = true;", true, {}});
  scripts.push_back({"window.__orvikNativeLaunchId = " + literal(inputs.launchId) + ";", true, {}});
  scripts.push_back({kImageContextMenuBlocker, false, {}});
  scripts.push_back({kLoadErrorCollector, true, {}});
  return scripts;
}

std::string udidInjectedLogLine(const std::string& deviceUdid) {
  // The identifier is ASCII hex: cutting bytes cuts characters.
  const std::string shown =
      deviceUdid.empty() ? "EMPTY" : "…" + deviceUdid.substr(deviceUdid.size() > 12 ? deviceUdid.size() - 12 : 0);
  return "[udid] injected window.__orvikDeviceUdid at documentStart (" + shown + ")";
}

}  // namespace orvik::page_scripts
