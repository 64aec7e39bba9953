#include "calls/screens/glass_background.h"

#include "calls/screens/call_colors.h"
#include "calls/screens/call_screen_css.h"

namespace orvik {

GlassBackground::GlassBackground(double cornerRadius) {
  set_name("call-glass");
  set_hexpand(true);
  set_vexpand(true);
  setWidgetCss(*this, "box { background-color: " + cssColor(callcolors::darkGlassTint) +
                          "; border-radius: " + cssPixels(cornerRadius) + "; }");
}

}  // namespace orvik
