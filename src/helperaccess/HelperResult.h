#pragma once

#include <QDBusError>
#include <QString>

#include <functional>
#include <optional>
#include <utility>
#include <variant>

namespace fernpoint {

// Why a helper operation failed.
class HelperClientError {
public:
    enum class Kind { XpcError, HelperFailed };

    // The message never reached the helper, or its answer never came back (any D-Bus error).
    static HelperClientError xpcError(QDBusError underlying) {
        return HelperClientError(Kind::XpcError, std::move(underlying), {});
    }
    // The helper answered "not ok"; message is its own text, or "unknown error" when it sent none.
    static HelperClientError helperFailed(QString message) {
        return HelperClientError(Kind::HelperFailed, {}, std::move(message));
    }

    Kind kind() const { return m_kind; }
    bool isXpcError() const { return m_kind == Kind::XpcError; }
    const QDBusError& underlying() const { return m_underlying; }
    const QString& message() const { return m_message; }

    // The one line a user reads for this failure.
    QString errorLine() const {
        return isXpcError() ? QStringLiteral("XPC 通信错误：") + m_underlying.message() : m_message;
    }

private:
    HelperClientError(Kind kind, QDBusError underlying, QString message)
        : m_kind(kind)
        , m_underlying(std::move(underlying))
        , m_message(std::move(message)) {}

    Kind m_kind;
    QDBusError m_underlying;
    QString m_message;
};

// The raw answer to a status request, exactly as the helper sent it.
struct GatewayStatus {
    bool ok = false;
    std::optional<QString> statusJSON; // null and empty are different answers
    bool isRunning = false;
};

// Either the success value of an operation or why it failed.
template<typename T> class HelperResult {
public:
    HelperResult(T value)
        : m_state(std::move(value)) {}
    HelperResult(HelperClientError error)
        : m_state(std::move(error)) {}

    bool isSuccess() const { return m_state.index() == 0; }
    const T& value() const { return std::get<0>(m_state); }
    const HelperClientError& error() const { return std::get<1>(m_state); }

private:
    std::variant<T, HelperClientError> m_state;
};

using Nothing = std::monostate;

template<typename T> using HelperCompletion = std::function<void(HelperResult<T>)>;

} // namespace fernpoint
