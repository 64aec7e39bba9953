#include "viewers/viewer_toolbar.h"

#include <utility>

namespace orvik {

ViewerToolbar::ViewerToolbar(Gtk::Window& window) : bar_(Gtk::make_managed<Gtk::HeaderBar>()) {
  window.set_titlebar(*bar_);
}

std::string ViewerToolbar::iconFor(const std::string& symbol) {
  static const std::map<std::string, std::string> icons = {
      {"minus.magnifyingglass", "zoom-out-symbolic"},
      {"plus.magnifyingglass", "zoom-in-symbolic"},
      {"pip.enter", "view-restore-symbolic"},
      {"arrow.down.to.line", "document-save-symbolic"},
      {"arrowshape.turn.up.left", "mail-reply-sender-symbolic"},
      {"minus", "list-remove-symbolic"},
      {"plus", "list-add-symbolic"},
      {"textformat", "format-text-plain-symbolic"},
      {"gobackward.10", "media-seek-backward-symbolic"},
      {"goforward.10", "media-seek-forward-symbolic"},
      {"play.fill", "media-playback-start-symbolic"},
      {"pause.fill", "media-playback-pause-symbolic"},
      {"speaker.slash.fill", "audio-volume-muted-symbolic"},
      {"speaker.fill", "audio-volume-low-symbolic"},
      {"speaker.wave.1.fill", "audio-volume-medium-symbolic"},
      {"speaker.wave.2.fill", "audio-volume-high-symbolic"},
      {"pip.exit", "view-fullscreen-symbolic"},
      {"xmark", "window-close-symbolic"},
      {"arrow.up.left.and.arrow.down.right", "view-fullscreen-symbolic"},
  };
  const auto it = icons.find(symbol);
  return it == icons.end() ? "image-missing-symbolic" : it->second;
}

void ViewerToolbar::setGroups(std::vector<std::vector<ViewerToolButton>> groups) {
  for (Gtk::Box* row : rows_) bar_->remove(*row);
  rows_.clear();
  buttons_.clear();
  groups_.clear();
  for (auto& group : groups) {
    if (!group.empty()) groups_.push_back(std::move(group));
  }
  // pack_end puts each row before the previous one: the last group ends up
  // at the trailing edge, the first nearest the title.
  for (auto group = groups_.rbegin(); group != groups_.rend(); ++group) {
    auto* row = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 0);
    row->add_css_class("linked");
    for (const auto& button : *group) {
      auto* widget = Gtk::make_managed<Gtk::Button>();
      widget->set_icon_name(iconFor(button.symbol));
      widget->set_tooltip_text(button.label);
      widget->set_name("orvik-tool-" + button.id);
      gtk_accessible_update_property(GTK_ACCESSIBLE(widget->gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                     button.label.c_str(), -1);
      widget->signal_clicked().connect(button.action);
      row->append(*widget);
      buttons_[button.id] = widget;
    }
    bar_->pack_end(*row);
    rows_.insert(rows_.begin(), row);
  }
}

void ViewerToolbar::setButtonHidden(const std::string& id, bool hidden) {
  for (std::size_t i = 0; i < groups_.size(); ++i) {
    for (const auto& button : groups_[i]) {
      if (button.id == id) {
        rows_[i]->set_visible(!hidden);
        return;
      }
    }
  }
}

void ViewerToolbar::setButtonEnabled(const std::string& id, bool enabled) {
  if (const auto it = buttons_.find(id); it != buttons_.end()) it->second->set_sensitive(enabled);
}

bool ViewerToolbar::isGroupShown(const std::string& id) const {
  for (std::size_t i = 0; i < groups_.size(); ++i) {
    for (const auto& button : groups_[i]) {
      if (button.id == id) return rows_[i]->get_visible();
    }
  }
  return false;
}

}  // namespace orvik
