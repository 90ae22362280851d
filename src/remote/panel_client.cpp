#include "panel_client.h"

namespace valve::remote {

namespace {
constexpr std::chrono::milliseconds kAnswerLimit{2000};
} // namespace

PanelClient::PanelClient() {
    // Queued: the woken coroutine may end valvectl's command and destroy this
    // client, which must not happen inside the socket's own signal.
    const auto wake = [this] { activity_.notify(); };
    QObject::connect(&socket_, &QLocalSocket::readyRead, &socket_, wake, Qt::QueuedConnection);
    QObject::connect(&socket_, &QLocalSocket::connected, &socket_, wake, Qt::QueuedConnection);
    QObject::connect(&socket_, &QLocalSocket::disconnected, &socket_, wake, Qt::QueuedConnection);
    QObject::connect(&socket_, &QLocalSocket::errorOccurred, &socket_, wake, Qt::QueuedConnection);
}

QCoro::Task<PanelClient::Answer> PanelClient::open(const QString& path) {
    using Kind = Answer::Kind;
    socket_.setReadBufferSize(kMaxMessageBytes + 1);
    socket_.connectToServer(path);
    if (socket_.state() == QLocalSocket::ConnectingState) {
        co_await activity_.wait(kAnswerLimit);
    }
    if (socket_.state() != QLocalSocket::ConnectedState) {
        const auto error = socket_.error();
        if (error == QLocalSocket::ServerNotFoundError || error == QLocalSocket::ConnectionRefusedError) {
            co_return Answer{Kind::Nothing, {}};
        }
        co_return Answer{Kind::Mute,
                         QStringLiteral("cannot connect to %1: %2").arg(path, socket_.errorString())};
    }
    // A refusing panel sends its reason at once; it comes as the answer.
    send(encode(type::kHello));
    const auto reply = co_await next(kAnswerLimit);
    if (!reply) {
        socket_.abort();
        co_return Answer{Kind::Mute, QStringLiteral("no panel answers at %1").arg(path)};
    }
    const QJsonObject& body = reply->body;
    if (reply->type == type::kHello) {
        co_return Answer{Kind::Panel, body.value(QStringLiteral("adapter")).toString()};
    }
    socket_.abort();
    if (reply->type == type::kError) {
        co_return Answer{Kind::Refused, body.value(QStringLiteral("message")).toString()};
    }
    co_return Answer{Kind::Mute, QStringLiteral("what answers at %1 is not a panel").arg(path)};
}

void PanelClient::send(const QByteArray& message) {
    if (socket_.state() == QLocalSocket::ConnectedState) {
        socket_.write(message);
        socket_.flush();
    }
}

QCoro::Task<std::optional<Message>> PanelClient::next(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        QByteArray line;
        switch (takeLine(socket_, line)) {
        case LineState::Complete: {
            Message message = decode(line);
            if (!message.error.isEmpty()) {
                co_return std::nullopt;
            }
            co_return message;
        }
        case LineState::TooLong:
            co_return std::nullopt;
        case LineState::Incomplete:
            break;
        }
        if (socket_.state() != QLocalSocket::ConnectedState) {
            co_return std::nullopt;
        }
        auto wait = std::chrono::milliseconds{-1};
        if (limit.count() >= 0) {
            wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (wait.count() <= 0) {
                co_return std::nullopt;
            }
        }
        co_await activity_.wait(wait);
    }
}

void PanelClient::abort() {
    socket_.abort();
    activity_.notify();
}

} // namespace valve::remote
