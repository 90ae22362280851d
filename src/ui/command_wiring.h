#pragma once

#include <QObject>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace valve::protocol {
class TextField;
struct Session;
} // namespace valve::protocol

namespace valve::ui {

struct MainWindowControls;

// Wires the main window's read, move and settings controls to their command
// handlers, and holds what the three drop-down lists last picked (nothing
// until the operator picks an entry). Lives as long as the window.
class CommandWiring : public QObject {
    Q_OBJECT
public:
    CommandWiring(const MainWindowControls& controls, protocol::Session& session, QObject* parent = nullptr);
    ~CommandWiring() override;

    [[nodiscard]] std::optional<std::uint8_t> clock_val() const { return clock_val_; }
    [[nodiscard]] std::optional<std::uint8_t> baud_val() const { return baud_val_; }
    [[nodiscard]] std::optional<std::uint8_t> cmd_mode_val() const { return cmd_mode_val_; }

private:
    void wireQueries(const MainWindowControls& c);
    void wirePositions(const MainWindowControls& c);
    void wireSettings(const MainWindowControls& c);
    void wireListPicks(const MainWindowControls& c);

    protocol::Session& session_;
    // Adapters of the window's text boxes and list box for the handlers.
    std::vector<std::unique_ptr<QObject>> adapters_;
    std::optional<std::uint8_t> clock_val_;
    std::optional<std::uint8_t> baud_val_;
    std::optional<std::uint8_t> cmd_mode_val_;
};

} // namespace valve::ui
