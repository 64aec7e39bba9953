// The output-device picker's dialog: "Audio Output", one button per output
// device (the current one first, marked), "Cancel", and the message that the
// choice applies at once. It tells its OutputDevicePicker when it opens and
// closes, by a button or by the window's close.
//
//   dialog_ = std::make_unique<OutputDevicePickerDialog>(picker, parentWindow);
//   dialog_->onClosed = [this] { … drop the dialog later … };
//
// Owner: the call view that opened it. THREAD-SAFETY: main thread only.
#pragma once

#include <functional>
#include <vector>

#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/window.h>

#include "calls/screens/output_device_picker.h"

namespace orvik {

class OutputDevicePickerDialog : public Gtk::Window {
 public:
  // `parent` may be null.
  OutputDevicePickerDialog(OutputDevicePicker& picker, Gtk::Window* parent);
  ~OutputDevicePickerDialog() override;

  // The device buttons, top to bottom, then Cancel.
  std::vector<Gtk::Button*> buttons() const { return buttons_; }
  std::function<void()> onClosed;

 private:
  void finish();

  OutputDevicePicker& picker_;
  Gtk::Box box_{Gtk::Orientation::VERTICAL, 8};
  std::vector<Gtk::Button*> buttons_;
  bool finished_ = false;
};

}  // namespace orvik
