#pragma once

#include "link/device_chooser.h"
#include "protocol/message_boxes.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

namespace valve::testing {

// Message boxes that record what they were asked and give scripted answers
// (OK when nothing is scripted).
class ScriptedBoxes : public protocol::MessageBoxes {
public:
    QStringList texts;
    QStringList captions;
    std::vector<protocol::BoxButtons> buttons;
    std::deque<protocol::BoxAnswer> answers;
    std::function<void()> onShow;

    QCoro::Task<protocol::BoxAnswer> message_box(QString text, protocol::BoxButtons kind,
                                                 QString caption) override {
        texts << text;
        captions << caption;
        buttons.push_back(kind);
        if (onShow) {
            onShow();
        }
        protocol::BoxAnswer answer = protocol::BoxAnswer::Ok;
        if (!answers.empty()) {
            answer = answers.front();
            answers.pop_front();
        }
        co_return answer;
    }
};

// A chooser that picks a fixed entry of what it is offered and notes each offer.
class PickingChooser : public link::DeviceChooser {
public:
    int pick = 0;
    std::vector<QList<QByteArray>> offered;

    QCoro::Task<QByteArray> choose(QList<QByteArray> descriptions) override {
        offered.push_back(descriptions);
        co_return descriptions.value(pick);
    }
};

} // namespace valve::testing
