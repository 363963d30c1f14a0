#pragma once

#include <QString>

#include <utility>
#include <variant>

/// \brief The error that ends a start attempt, with the text the user sees.
struct TunnelError
{
    enum class Kind {
        invalidHost,
        invalidPort,
        portNotNumber,
        protocolDetectionFailed,
        cloudflaredMissing,
        originUnavailable,
        launchFailed,
        // Why a running `cloudflared` failed, as read from its output.
        quickTunnelRateLimited,
        quickTunnelServiceUnreachable,
        quickTunnelServiceError,
        quickTunnelRequestUnanswered,
        edgeQuicBlocked,
        startupTimedOut, ///< detail: the last error cloudflared printed, if any
        cloudflaredReported, ///< detail: the last error cloudflared printed
        cloudflaredExited, ///< detail: the exit status
    };

    Kind kind = Kind::invalidHost;
    QString detail; ///< for originUnavailable, launchFailed and the kinds that name it

    static TunnelError invalidHost() { return {Kind::invalidHost, {}}; }
    static TunnelError invalidPort() { return {Kind::invalidPort, {}}; }
    static TunnelError portNotNumber() { return {Kind::portNotNumber, {}}; }
    static TunnelError protocolDetectionFailed() { return {Kind::protocolDetectionFailed, {}}; }
    static TunnelError cloudflaredMissing() { return {Kind::cloudflaredMissing, {}}; }
    static TunnelError originUnavailable(QString detail) { return {Kind::originUnavailable, std::move(detail)}; }
    static TunnelError launchFailed(QString detail) { return {Kind::launchFailed, std::move(detail)}; }
    static TunnelError startupTimedOut(QString lastError = {}) { return {Kind::startupTimedOut, std::move(lastError)}; }
    static TunnelError cloudflaredReported(QString line) { return {Kind::cloudflaredReported, std::move(line)}; }
    static TunnelError cloudflaredExited(int status) { return {Kind::cloudflaredExited, QString::number(status)}; }

    QString description() const;

    bool operator==(const TunnelError &) const = default;
};

/// \brief A value or the TunnelError that refused it.
template<typename T>
class Result
{
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(TunnelError error) : m_value(std::move(error)) {}

    bool ok() const { return std::holds_alternative<T>(m_value); }
    explicit operator bool() const { return ok(); }
    const T &value() const { return std::get<T>(m_value); }
    const TunnelError &error() const { return std::get<TunnelError>(m_value); }

private:
    std::variant<T, TunnelError> m_value;
};
