#pragma once

namespace valve::protocol {
struct Session;
}

namespace valve::ui {

class MainWindow;

// Connects the main window's "Custom Configuration" button (Command1): the
// first click opens the Custom Configuration window, later clicks while it is
// open bring it to the front. The window closes with the main window, and is
// deleted with it at the latest. `session` must outlive `window`.
void wireCustomConfiguration(MainWindow& window, protocol::Session& session);

} // namespace valve::ui
