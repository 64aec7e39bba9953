# Every package the program, its tests and benchmarks import, each defined
# once, as a global imported target the folders link by name. One pkg-config
# module per target: a folder lists exactly what it uses.
find_package(PkgConfig REQUIRED)
find_package(Threads REQUIRED)
find_package(nlohmann_json 3.10 REQUIRED)
find_package(OpenSSL 3 REQUIRED)
# WebRTC (Debian's libtgowt); linked only under src/calls/media.
find_package(tg_owt REQUIRED)

pkg_check_modules(GLIB REQUIRED IMPORTED_TARGET GLOBAL glib-2.0 gio-2.0 gobject-2.0)
pkg_check_modules(GIO_UNIX REQUIRED IMPORTED_TARGET GLOBAL gio-unix-2.0)
pkg_check_modules(ICU REQUIRED IMPORTED_TARGET GLOBAL icu-uc)
pkg_check_modules(GTK4 REQUIRED IMPORTED_TARGET GLOBAL gtk4>=4.8)
# Window placement on X11 (EWMH) through the GDK X11 surface.
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET GLOBAL x11)
pkg_check_modules(GTKMM REQUIRED IMPORTED_TARGET GLOBAL gtkmm-4.0>=4.8)
pkg_check_modules(SOUP REQUIRED IMPORTED_TARGET GLOBAL libsoup-3.0)
pkg_check_modules(WEBKIT REQUIRED IMPORTED_TARGET GLOBAL webkitgtk-6.0>=2.40 javascriptcoregtk-6.0)
pkg_check_modules(LIBSECRET REQUIRED IMPORTED_TARGET GLOBAL libsecret-1)
pkg_check_modules(SYSTEMD REQUIRED IMPORTED_TARGET GLOBAL libsystemd)
pkg_check_modules(PULSE REQUIRED IMPORTED_TARGET GLOBAL libpulse)
pkg_check_modules(GSTREAMER REQUIRED IMPORTED_TARGET GLOBAL
  gstreamer-1.0>=1.20 gstreamer-app-1.0 gstreamer-video-1.0 gstreamer-pbutils-1.0)
pkg_check_modules(MEDIA_FILES REQUIRED IMPORTED_TARGET GLOBAL gdk-pixbuf-2.0 poppler-glib cairo)
