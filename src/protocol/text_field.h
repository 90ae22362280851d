#pragma once

#include <QString>

namespace valve::protocol {

// A text box as command logic sees it, so the logic runs without widgets.
class TextField {
public:
    virtual ~TextField() = default;
    [[nodiscard]] virtual QString text() const = 0;
    virtual void setText(const QString& text) = 0;
};

// A plain in-memory field, for logic that is driven without a window.
class StoredText : public TextField {
public:
    [[nodiscard]] QString text() const override { return text_; }
    void setText(const QString& text) override { text_ = text; }

private:
    QString text_;
};

} // namespace valve::protocol
