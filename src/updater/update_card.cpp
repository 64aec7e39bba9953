#include "updater/update_card.h"

#include "updater/update_downloader.h"
#include "updater/update_service.h"

namespace orvik {
namespace {

// Colours of the card; the accent is sRGB (79, 70, 229), the close glyph's
// coral (248, 113, 113).
constexpr const char* kCardStyle = R"(
.update-card { border-radius: 20px; min-width: 280px; }
.update-card.dark { background-color: rgba(34, 25, 50, 0.92); border: 1px solid rgba(150, 162, 244, 0.40);
  box-shadow: 0 6px 18px rgba(0, 0, 0, 0.50); }
.update-card.light { background-color: rgba(0, 0, 0, 0.10); border: 1px solid rgba(0, 0, 0, 0.12);
  box-shadow: 0 6px 18px rgba(0, 0, 0, 0.18); }
.update-card .update-title { font-size: 15px; font-weight: 600; }
.update-card.dark .update-title { color: white; }
.update-card.light .update-title { color: rgb(26, 9, 55); }
.update-card .update-subtitle { font-size: 11px; }
.update-card.dark .update-subtitle { color: rgba(255, 255, 255, 0.50); }
.update-card.light .update-subtitle { color: rgba(26, 9, 55, 0.55); }
.update-card .update-subtitle.error { color: orange; }
.update-card .update-installing { font-size: 12px; }
.update-card.dark .update-installing { color: rgba(255, 255, 255, 0.35); }
.update-card.light .update-installing { color: rgba(26, 9, 55, 0.40); }
.update-card.dark spinner { color: rgba(255, 255, 255, 0.50); }
.update-card.light spinner { color: rgba(0, 0, 0, 0.40); }
.update-accent { background: rgb(79, 70, 229); color: white; border-radius: 999px; padding: 7px 16px;
  font-size: 12.5px; font-weight: 600; border: none; box-shadow: none; }
.update-accent:active { background: rgba(79, 70, 229, 0.75); }
.update-card progressbar trough { min-height: 2px; border-radius: 1px; margin: 0 2px; }
.update-card progressbar progress { min-height: 2px; border-radius: 1px; background: rgb(79, 70, 229); }
.update-card.dark progressbar trough { background: rgba(255, 255, 255, 0.08); }
.update-card.light progressbar trough { background: rgba(0, 0, 0, 0.08); }
.update-close { color: rgb(248, 113, 113); border-radius: 50%; min-width: 27px; min-height: 27px; padding: 0;
  font-weight: bold; }
.update-close.dark { background: rgba(30, 30, 30, 0.85); border: 1px solid rgba(255, 255, 255, 0.15);
  box-shadow: 0 3px 8px rgba(0, 0, 0, 0.40); }
.update-close.light { background: rgba(245, 245, 245, 0.90); border: 1px solid rgba(0, 0, 0, 0.12);
  box-shadow: 0 3px 8px rgba(0, 0, 0, 0.15); }
)";

void installStyleOnce() {
  static bool installed = false;
  if (installed) return;
  auto display = Gdk::Display::get_default();
  if (!display) return;
  installed = true;
  auto provider = Gtk::CssProvider::create();
  provider->load_from_data(kCardStyle);
  Gtk::StyleContext::add_provider_for_display(display, provider, GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

void setThemeClass(Gtk::Widget& widget, bool dark) {
  widget.remove_css_class(dark ? "light" : "dark");
  widget.add_css_class(dark ? "dark" : "light");
}

}  // namespace

UpdateCard::UpdateCard(UpdateService& service, UpdateDownloader& downloader, std::function<bool()> isDarkMode)
    : service_(service), downloader_(downloader), isDarkMode_(std::move(isDarkMode)) {
  installStyleOnce();
  set_transition_type(Gtk::RevealerTransitionType::CROSSFADE);
  set_transition_duration(400);
  set_valign(Gtk::Align::END);
  set_can_target(true);

  arrow_.set_content_width(10);
  arrow_.set_content_height(18);
  arrow_.set_valign(Gtk::Align::CENTER);
  arrow_.set_draw_func(sigc::mem_fun(*this, &UpdateCard::drawArrow));

  title_.set_text("Update Available");
  title_.add_css_class("update-title");
  title_.set_halign(Gtk::Align::START);
  title_.set_single_line_mode(true);
  subtitle_.add_css_class("update-subtitle");
  subtitle_.set_halign(Gtk::Align::START);
  subtitle_.set_single_line_mode(true);
  subtitle_.set_ellipsize(Pango::EllipsizeMode::END);
  subtitle_.set_max_width_chars(40);
  texts_.append(title_);
  texts_.append(subtitle_);
  texts_.set_hexpand(true);
  texts_.set_valign(Gtk::Align::CENTER);

  auto* label = Gtk::make_managed<Gtk::Box>(Gtk::Orientation::HORIZONTAL, 8);
  label->append(*Gtk::make_managed<Gtk::Image>(Glib::ustring("view-refresh-symbolic")));
  label->append(*Gtk::make_managed<Gtk::Label>("Update"));
  updateButton_.set_child(*label);
  updateButton_.add_css_class("update-accent");
  updateButton_.signal_clicked().connect(sigc::mem_fun(*this, &UpdateCard::pressUpdate));
  spinner_.set_size_request(12, 12);
  installing_.set_text("Installing…");
  installing_.add_css_class("update-installing");
  actions_.append(updateButton_);
  actions_.append(spinner_);
  actions_.append(installing_);
  actions_.set_valign(Gtk::Align::CENTER);

  row_.set_margin_start(16);
  row_.set_margin_end(16);
  row_.set_margin_top(11);
  row_.set_margin_bottom(11);
  row_.append(texts_);
  row_.append(actions_);
  progress_.set_margin_start(2);
  progress_.set_margin_end(2);
  card_.append(row_);
  card_.append(progress_);
  card_.add_css_class("update-card");
  card_.set_size_request(280, -1);

  closeButton_.set_label("✕");
  closeButton_.add_css_class("update-close");
  closeButton_.set_halign(Gtk::Align::END);
  closeButton_.set_valign(Gtk::Align::START);
  closeButton_.signal_clicked().connect(sigc::mem_fun(*this, &UpdateCard::pressLater));

  cardOverlay_.set_child(card_);
  cardOverlay_.add_overlay(closeButton_);
  outer_.append(arrow_);
  outer_.append(cardOverlay_);
  set_child(outer_);

  serviceObserver_ = service_.changed.add([this] { render(); });
  downloaderObserver_ = downloader_.changed.add([this] { render(); });
  render();
}

UpdateCard::~UpdateCard() = default;

void UpdateCard::pressUpdate() {
  const auto& info = service_.updateInfo();
  if (!info) return;
  downloader_.downloadAndInstall(info->downloadUrl, info->sha256.value_or(""));
}

void UpdateCard::pressLater() {
  service_.rememberLater();
  service_.setShowUpdateDialog(false);
}

void UpdateCard::render() {
  model_ = presentUpdateCard({service_.updateInfo(), service_.showUpdateDialog(), service_.isUserLoggedIn(),
                              service_.bannerAnchorBottom(), downloader_.state()});
  dark_ = isDarkMode_ ? isDarkMode_() : true;
  setThemeClass(card_, dark_);
  setThemeClass(closeButton_, dark_);
  subtitle_.set_text(model_.subtitle);
  if (model_.subtitleIsError) {
    subtitle_.add_css_class("error");
  } else {
    subtitle_.remove_css_class("error");
  }
  updateButton_.set_visible(model_.action == UpdateCardModel::Action::update);
  const bool installing = model_.action == UpdateCardModel::Action::installing;
  spinner_.set_visible(installing);
  spinner_.set_spinning(installing);
  installing_.set_visible(installing);
  progress_.set_visible(model_.showProgressBar);
  progress_.set_fraction(model_.progressFraction);
  closeButton_.set_visible(model_.showCloseButton);
  arrow_.set_visible(model_.showArrow);
  arrow_.queue_draw();
  set_halign(model_.alignStart ? Gtk::Align::START : Gtk::Align::END);
  set_margin_start(model_.marginStart);
  set_margin_end(model_.marginEnd);
  set_margin_bottom(model_.marginBottom);
  // Hidden, the revealer must not take the page's clicks.
  set_can_target(model_.visible);
  set_reveal_child(model_.visible);
}

void UpdateCard::drawArrow(const Cairo::RefPtr<Cairo::Context>& context, int width, int height) {
  // A triangle from the top-right corner to the middle of the left side to
  // the bottom-right corner; its border stays open where it meets the card.
  context->move_to(width, 0);
  context->line_to(0, height / 2.0);
  context->line_to(width, height);
  context->close_path();
  if (dark_) {
    context->set_source_rgba(34 / 255.0, 25 / 255.0, 50 / 255.0, 0.92);
  } else {
    context->set_source_rgba(0, 0, 0, 0.10);
  }
  context->fill();
  context->move_to(width, 0);
  context->line_to(0, height / 2.0);
  context->line_to(width, height);
  if (dark_) {
    context->set_source_rgba(150 / 255.0, 162 / 255.0, 244 / 255.0, 0.40);
  } else {
    context->set_source_rgba(0, 0, 0, 0.12);
  }
  context->set_line_width(1.0);
  context->stroke();
}

}  // namespace orvik
