#include "calls/screens/output_device_picker_dialog.h"

#include <gtkmm/label.h>

namespace orvik {

OutputDevicePickerDialog::OutputDevicePickerDialog(OutputDevicePicker& picker, Gtk::Window* parent)
    : picker_(picker) {
  set_title(OutputDevicePicker::kTitle);
  set_name("output-device-picker");
  set_modal(true);
  set_resizable(false);
  set_hide_on_close(true);
  if (parent) set_transient_for(*parent);
  box_.set_margin(18);

  auto* title = Gtk::make_managed<Gtk::Label>(OutputDevicePicker::kTitle);
  title->add_css_class("title-3");
  box_.append(*title);
  auto* message = Gtk::make_managed<Gtk::Label>(OutputDevicePicker::kMessage);
  message->set_wrap(true);
  message->set_max_width_chars(40);
  box_.append(*message);

  picker_.presentedChanged(true);
  for (const OutputDeviceEntry& entry : picker_.entries()) {
    auto* button = Gtk::make_managed<Gtk::Button>(entry.buttonText);
    button->set_name("output-device-" + std::to_string(entry.device.id));
    button->signal_clicked().connect([this, entry] {
      picker_.select(entry);
      close();
    });
    box_.append(*button);
    buttons_.push_back(button);
  }
  auto* cancel = Gtk::make_managed<Gtk::Button>(OutputDevicePicker::kCancel);
  cancel->set_name("output-device-cancel");
  cancel->signal_clicked().connect([this] { close(); });
  box_.append(*cancel);
  buttons_.push_back(cancel);
  set_child(box_);

  signal_hide().connect([this] { finish(); });
}

OutputDevicePickerDialog::~OutputDevicePickerDialog() { finish(); }

void OutputDevicePickerDialog::finish() {
  if (finished_) return;
  finished_ = true;
  picker_.presentedChanged(false);
  if (onClosed) onClosed();
}

}  // namespace orvik
